#include "RenderCommand.h"

#include <QImage>
#include <QString>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FittedPicture.h"
#include "MeasureFile.h"
#include "MovieRange.h"
#include "RegionFiles.h"
#include "MovieWriter.h"
#include "PngFramesWriter.h"
#include "OpenImage.h"
#include "PictureOverlay.h"
#include "ReaderOptions.h"
#include "PositionStamp.h"
#include "RenderRequest.h"
#include "Viewer.h"
#include "VolumeView.h"
#include "ZarrReader.h"

namespace ImageViewer {

namespace {

// The options beyond a still picture's.
struct CommandOptions
{
    std::string movie;      // --movie DIM[:FIRST:LAST] or turn[:AXIS]
    double fps = 10;
    int quality = 90;
    int turnFrames = 360;
    std::string rotate;     // --rotate AZ,EL
    int stamp = -1;         // -1: on for movies, off for stills
    int scaleBar = -1;      // -1: on for movies, else as the state says
    int box = 1;            // the 3-D view's box and axis names
    std::string rois;       // --rois: regions to measure and outline
    std::string measure;    // --measure OUT.csv
    std::string profiles;   // --profiles OUT.csv: line profiles
    std::vector<std::string> through;
};

// A PNG is written as a movie's frames are (RGB, one filter per row), with zlib at level 2:
// a quarter of the time of Qt's default encoder, for files up to a quarter larger. Other
// formats go to Qt.
bool savePicture(const ViewPicture& picture, const std::string& path)
{
    std::string suffix = std::filesystem::path(path).extension().string();
    std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](unsigned char c) { return std::tolower(c); });
    if (suffix != ".png")
        return WrapPicture(picture).save(QString::fromLocal8Bit(path.c_str()));
    const Core::RgbaFrame frame{picture.width, picture.height, 4 * static_cast<size_t>(picture.width),
                                picture.pixels.get(), Core::PixelOrder::BGRA};
    return Core::WritePng(frame, path, Core::PngEffort::Still).empty();
}

bool toNumber(const std::string& text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(value);
}

// A number from lo to hi, or why not.
std::string parseRange(const std::string& text, double lo, double hi, double& value)
{
    double v = 0;
    if (!toNumber(text, v) || v < lo || v > hi)
        return "expected a number from " + std::to_string(static_cast<long long>(lo)) + " to " +
               std::to_string(static_cast<long long>(hi));
    value = v;
    return std::string();
}

void addCommandOptions(OptionTable& table, CommandOptions& o)
{
    using Args = const std::vector<std::string>&;
    table.Add("--fps", 1, "N: frames per second of the movie (default 10)",
              [&o](Args a) { return parseRange(a[0], 0.1, 1000, o.fps); });
    const auto whole = [&table](const char* name, const char* help, double lo, double hi, int& target) {
        table.Add(name, 1, help, [&target, lo, hi](Args a) {
            double v = 0;
            const std::string why = parseRange(a[0], lo, hi, v);
            if (why.empty() && v != std::floor(v))
                return std::string("expected a whole number");
            target = static_cast<int>(v);
            return why;
        });
    };
    whole("--quality", "N: 1-100 for JPEG, WebP and H.264 frames (default 90)", 1, 100, o.quality);
    whole("--frames", "N: frames of a turn (default 360)", 1, 100000, o.turnFrames);
    table.Add("--rotate", 1, "AZ,EL: degrees the 3-D view turns about the vertical, then the horizontal axis",
              [&o](Args a) {
                  Rotation r;
                  o.rotate = a[0];
                  return ParseAzEl(a[0], r) ? std::string() : "expected two numbers of degrees, AZ,EL";
              });
    // Switches that set one field.
    const auto flag = [&table](const char* name, const char* help, int& target, int value) {
        table.Add(name, 0, help, [&target, value](Args) {
            target = value;
            return std::string();
        });
    };
    flag("--stamp", "draw the position stamp (default for movies)", o.stamp, 1);
    flag("--no-stamp", "no position stamp", o.stamp, 0);
    flag("--scale-bar", "draw the scale bar (default for movies)", o.scaleBar, 1);
    flag("--no-scale-bar", "no scale bar", o.scaleBar, 0);
    flag("--no-box", "no box outline and axis names on the 3-D view", o.box, 0);
    // Options that take their text as it is.
    const auto text = [&table](const char* name, const char* help, std::string& target) {
        table.Add(name, 1, help, [&target](Args a) {
            target = a[0];
            return std::string();
        });
    };
    text("--movie", "DIM[:FIRST:LAST] | turn[:x|y|z]: a movie through a dimension, or turning the 3-D view",
         o.movie);
    text("--rois", "RoiSet.zip|.roi|.geojson|.json: regions, outlined on the picture", o.rois);
    text("--measure", "OUT.csv: the regions' measurements (ImageJ's columns)", o.measure);
    text("--profiles", "OUT.csv: the lines' profiles (Distance, Value)", o.profiles);
    table.Add("--through", 1, "DIM[,DIM...]: measure at every index of these dimensions", [&o](Args a) {
        std::string item;
        std::istringstream in(a[0]);
        while (std::getline(in, item, ','))
            o.through.push_back(item);
        return std::string();
    });
    table.Add("--allow-outside-data", 0, "read data files a header names outside its own folder", [](Args) {
        ImageReader::SetAllowOutsideData(true);
        return std::string();
    });
}

// What a movie steps through: a dimension's positions, or turns of the volume.
struct MoviePlan
{
    int dim = -1;
    int first = 0;
    int frames = 1;
    bool turn = false;
    int turnAxis = -1; // TurntableFrame's axis: 0 x, 1 y, 2 z, -1 the screen's vertical
};

std::string planMovie(const std::string& movieArg, const CommandOptions& o, const std::vector<std::string>& names,
                      const ImageReader::Vector& size, MoviePlan& plan)
{
    if (movieArg == "turn" || movieArg.rfind("turn:", 0) == 0) {
        plan.turn = true;
        plan.frames = o.turnFrames;
        const std::string axis = movieArg.size() > 5 ? movieArg.substr(5) : std::string();
        plan.turnAxis = axis.empty() ? -1 : axis == "x" ? 0 : axis == "y" ? 1 : axis == "z" ? 2 : -2;
        return plan.turnAxis == -2 ? "--movie: turn about x, y or z (the volume's axes), or without an axis about the "
                                     "screen's vertical"
                                   : std::string();
    }
    Core::MovieRange range;
    std::string why;
    // Their reasons name the option already.
    if (!Core::ParseMovieRange(movieArg, range, why))
        return why;
    std::vector<int> sizes;
    for (int d = 0; d < static_cast<int>(size.size()); ++d)
        sizes.push_back(size[d]);
    int last = 0;
    if (!Core::ResolveMovieRange(range, names, sizes, plan.dim, plan.first, last, why))
        return why;
    plan.frames = last - plan.first + 1;
    return std::string();
}

// Everything one frame needs besides its position.
struct FrameContext
{
    ImageSession& session;
    ImageReader::ImageReaderBase<unsigned short>& reader;
    const RenderRequest& request;
    const CommandOptions& options;
    std::vector<double> pixelSizes;
    std::vector<std::string> names;
    bool stamp = false;
    bool scaleBar = false;
    int stampDim = -1; // the movie's dimension; -1: every dimension the picture is taken at
    VolumeView volume;
    std::vector<Measure::Region> regions; // outlined on the XY view
};

// "t = 00:00:01.5" for the stamped dimensions: the movie's, or for a still every dimension
// with more than one position that the picture neither shows nor collapses.
std::string stampText(FrameContext& c, const ViewState& state)
{
    const ImageReader::Vector size = c.session.Size();
    std::string text;
    for (int d = 0; d < static_cast<int>(size.size()); ++d) {
        const bool shown = d == state.axes.x || d == state.axes.y || (c.request.volume && d == state.axes.xz) ||
                           (c.request.views == ViewAll && (d == state.axes.xz || d == state.axes.yz));
        if (c.stampDim >= 0 ? d != c.stampDim
                            : shown || d == state.channelDim || state.IsProjected(d) || size[d] < 2)
            continue;
        const double spacing = static_cast<size_t>(d) < c.pixelSizes.size() ? c.pixelSizes[static_cast<size_t>(d)] : 0;
        text += (text.empty() ? "" : "   ") + Core::PositionStamp(c.names[static_cast<size_t>(d)], state.cursor[d], 0,
                                                                  c.reader.GetDimInterval(static_cast<unsigned>(d)),
                                                                  spacing);
    }
    return text;
}

// One picture of the state, overlays included; null with `error` set when it cannot be made.
ViewPicture renderFrame(FrameContext& c, const ViewState& state, DisplayState& display, const Rotation& rotation,
                        std::string& error)
{
    ViewPicture picture;
    PictureArea area;
    if (c.request.volume) {
        picture = c.volume.Render(c.session, state, display, c.pixelSizes, rotation, c.request.width,
                                  c.request.height, c.options.box == 1, area.nmPerPixel, error);
        area.width = picture.width;
        area.height = picture.height;
    } else {
        picture = RenderFittedPicture(c.session, state, display, c.pixelSizes, c.request.views, c.request.width,
                                      c.request.height, c.request.level);
        if (picture.IsNull())
            error = "nothing to draw (the picture would not fit in memory, or the planes could not be read)";
        else if (c.stamp || c.scaleBar || !c.regions.empty())
            area = XYArea(c.session.Size(), c.pixelSizes, state, c.request.views, c.request.width, c.request.height);
        if (!picture.IsNull() && (c.request.views & ViewXY))
            DrawRegions(picture, area, c.regions, c.session.Size(), state);
    }
    if (!picture.IsNull() && (c.stamp || c.scaleBar))
        DrawOverlays(picture, area, c.stamp ? stampText(c, state) : std::string(), c.scaleBar);
    return picture;
}

std::string writeMovie(FrameContext& c, const MoviePlan& plan, const ViewState& start, DisplayState& display,
                       const Rotation& rotation, std::ostream& err, const std::atomic<bool>* cancel)
{
    const Core::MovieFormat format = Core::MovieFormatFor(c.request.output);
    if (format == Core::MovieFormat::Unknown)
        return "-o: a movie goes to a .mp4, .avi, .gif or .webp file or a folder ending in /";
    if (!Core::MovieFormatAvailable(format))
        return std::string("-o: this build cannot write ") + Core::MovieFormatName(format);
    ViewPicture current;
    ViewState state = start;
    // Autoscaled ranges widen as frames come, as they do while the window plays.
    const Core::FrameRenderer render = [&](int index, Core::RgbaFrame& frame, std::string& error) {
        if (plan.dim >= 0)
            state.cursor[plan.dim] = plan.first + index;
        const Rotation r = plan.turn ? TurntableFrame(rotation, plan.turnAxis, index, plan.frames) : rotation;
        current = renderFrame(c, state, display, r, error);
        if (current.IsNull())
            return false;
        frame = Core::RgbaFrame{current.width, current.height, 4 * static_cast<size_t>(current.width),
                                current.pixels.get(), Core::PixelOrder::BGRA};
        return true;
    };
    const auto began = std::chrono::steady_clock::now();
    const Core::MovieProgress progress = [&err, cancel](int done, int total) {
        err << "\rlumora-render: frame " << done << " of " << total << std::flush;
        return !(cancel && cancel->load());
    };
    Core::MovieOptions options;
    options.fps = c.options.fps;
    options.quality = c.options.quality;
    const Core::MovieResult result = Core::WriteMovie(c.request.output, plan.frames, render, options, progress);
    if (result.cancelled)
        return "\ncancelled; nothing written";
    if (!result.ok)
        return (plan.frames > 0 ? "\n" : "") + (result.error.empty() ? "the movie was not written" : result.error);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    err << "\rlumora-render: " << result.frames << " frames (" << Core::MovieFormatName(format) << ") in " << seconds
        << " s\n";
    return std::string();
}

// Measures the regions into --measure's CSV (and --profiles'), at the positions --cursor or
// --state give and index 0 elsewhere, as ImageJ opens a stack.
std::string measure(ImageReader::ImageReaderBase<unsigned short>& reader, const std::vector<Measure::Region>& regions,
                    const CommandOptions& options, const RenderRequest& request, const ViewState& state,
                    const std::vector<std::string>& names, std::ostream& err)
{
    Measure::MeasureRequest m;
    m.through = options.through;
    m.profiles = !options.profiles.empty();
    for (int d = 2; d < static_cast<int>(names.size()); ++d) {
        bool given = !request.statePath.empty();
        for (const auto& [name, value] : request.cursor)
            given = given || FindDimension(name, names) == d;
        m.cursor.push_back(given ? state.cursor[d] : 0);
    }
    for (const std::string& name : options.through)
        if (FindDimension(name, names) < 2)
            return "--through: no dimension " + name + " beyond x and y";
    const Measure::MeasureTable table = Measure::MeasureFile(reader, regions, m);
    const auto write = [](const std::string& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        return static_cast<bool>(out);
    };
    if (!write(options.measure, Measure::TableToCsv(table)))
        return "cannot write " + options.measure;
    if (m.profiles && !write(options.profiles, Measure::ProfilesToCsv(table)))
        return "cannot write " + options.profiles;
    if (table.skippedRegions > 0)
        err << "lumora-render: " << table.skippedRegions
            << " region(s) left out (not valid, or pinned to a position the image does not have)\n";
    if (table.missingPlanes > 0)
        err << "lumora-render: " << table.missingPlanes << " plane(s) could not be read\n";
    return std::string();
}

int fail(std::ostream& err, const std::string& why)
{
    err << "lumora-render: " << why << "\n";
    return 1;
}

} // namespace

int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const std::atomic<bool>* cancel)
{
    RenderRequest request;
    CommandOptions options;
    OptionTable table;
    AddRenderOptions(table, request);
    addCommandOptions(table, options);
    const std::string usage = "Usage: lumora-render FILE_OR_URL -o OUT.png|OUT.mp4|.avi|.gif|.webp|DIR/ [options]\n" +
                              table.Help();
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << usage;
        return 0;
    }
    std::vector<std::string> positional;
    const std::string why = table.Parse(args, positional);
    if (!why.empty())
        return fail(err, why + "\n" + usage);
    if (positional.size() != 1 || (request.output.empty() && options.measure.empty()))
        return fail(err, "needs one image and -o OUT or --measure OUT.csv\n" + usage);
    if (!options.movie.empty() && request.output.empty())
        return fail(err, "--movie needs -o OUT.mp4|.avi|.gif|.webp|DIR/");
    if ((!options.measure.empty() || !options.profiles.empty() || !options.through.empty()) && options.rois.empty())
        return fail(err, "--measure, --profiles and --through measure the regions of --rois");
    request.source = positional[0];
    if (!options.rotate.empty() && !request.volume && options.movie.rfind("turn", 0) != 0)
        return fail(err, "--rotate turns the 3-D view: add --view 3d");
    if (options.movie == "turn" || options.movie.rfind("turn:", 0) == 0)
        request.volume = true; // only the volume turns

    // Reader notes go to standard error, as the reasons for giving up do.
    ImageReader::OpenedImage opened = ImageReader::OpenImage(request.source);
    if (!opened.reader)
        return fail(err, "cannot open " + request.source + ": " + opened.error);
    Viewer viewer;
    viewer.autoRefresh = false; // the pictures below are all that is read
    const std::string openWhy = viewer.Open(std::move(opened.reader));
    if (!openWhy.empty())
        return fail(err, "cannot show " + request.source + ": " + openWhy);
    ImageSession& session = viewer.Session();
    if (request.level >= session.LevelCount())
        return fail(err, "--level: the image has " + std::to_string(session.LevelCount()) + " level(s)");

    const ImageDescription image{viewer.Size(), session.DimensionNames(), viewer.PixelSizes()};
    ViewState state = viewer.State();
    DisplayState display = viewer.Display();
    const std::string applyWhy = ApplyRenderRequest(request, image, session.reader->GetValueMap(), state, display);
    if (!applyWhy.empty())
        return fail(err, applyWhy);
    for (int index = 0; index < kViewCount; ++index)
        if ((request.views & (1 << index)) && !state.Drawable(index, image.size))
            return fail(err, "the view's axes are not two different dimensions of the image");

    MoviePlan plan;
    if (!options.movie.empty()) {
        const std::string planWhy = planMovie(options.movie, options, image.names, image.size, plan);
        if (!planWhy.empty())
            return fail(err, planWhy);
        if (plan.dim >= 0 && state.IsProjected(plan.dim))
            return fail(err, "--movie: " + image.names[static_cast<size_t>(plan.dim)] + " is collapsed by --project");
    }
    std::vector<Measure::Region> regions;
    if (!options.rois.empty()) {
        std::string roiWhy;
        std::optional<std::vector<Measure::Region>> read =
            Measure::ReadRegions(options.rois, Measure::ImageJAxes::FromNames(image.names), &roiWhy);
        if (!read)
            return fail(err, "--rois " + options.rois + ": " + roiWhy);
        regions = std::move(*read);
    }
    if (!options.measure.empty()) {
        const std::string measureWhy = measure(*session.reader, regions, options, request, state, image.names, err);
        if (!measureWhy.empty())
            return fail(err, measureWhy);
        if (request.output.empty())
            return 0;
    }
    const bool movie = !options.movie.empty();
    Rotation rotation;
    if (!options.rotate.empty())
        ParseAzEl(options.rotate, rotation);

    // One still picture of the views asks for each chunk of a server's one-plane chunks once
    // per view: keeping every downloaded chunk would cost more memory (and fresh pages) than
    // the few chunks the side views share cost to fetch again.
    if (!movie && !request.volume)
        if (auto* zarr = dynamic_cast<ImageReader::ZarrReader<unsigned short>*>(session.reader.get()))
            if (zarr->RemoteChunksHoldOnePlane())
                zarr->SetMemoryBudget(0);
    FrameContext context{session, *session.reader, request, options, image.pixelSizes, image.names, false, false,
                         plan.dim, VolumeView(), {}};
    context.regions = std::move(regions);
    context.stamp = options.stamp < 0 ? movie && plan.dim >= 0 : options.stamp == 1;
    context.scaleBar = options.scaleBar < 0 ? movie || state.scaleBar : options.scaleBar == 1;

    std::string renderWhy;
    if (movie) {
        renderWhy = writeMovie(context, plan, state, display, rotation, err, cancel);
    } else {
        const ViewPicture picture = renderFrame(context, state, display, rotation, renderWhy);
        if (!picture.IsNull() && !savePicture(picture, request.output))
            renderWhy = "cannot write " + request.output;
    }
    if (!renderWhy.empty())
        return fail(err, renderWhy);
    const VolumeBuild& build = context.volume.Build();
    if (request.volume && (build.level > 0 || build.step > 1))
        err << "lumora-render: the 3-D view shows level " << build.level << ", every " << build.step
            << " voxel(s) along each axis, to fit the memory budget\n";
    return 0;
}

} // namespace ImageViewer
