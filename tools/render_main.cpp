// lumora-render FILE_OR_URL -o OUT.png [options]: a picture of the views from the viewer's
// model, without a window.
#include <QImage>
#include <QString>
#include <cstdio>
#include <string>
#include <vector>

#include "Diagnostics.h"
#include "OpenImage.h"
#include "RenderRequest.h"
#include "ViewRender.h"
#include "Viewer.h"

using namespace ImageViewer;

namespace {

int fail(const std::string& why)
{
    std::fprintf(stderr, "lumora-render: %s\n", why.c_str());
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    RenderRequest request;
    OptionTable options;
    AddRenderOptions(options, request);
    const std::string usage = "Usage: lumora-render FILE_OR_URL -o OUT.png [options]\n" + options.Help();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(usage.c_str(), stdout);
        return 0;
    }
    std::vector<std::string> positional;
    const std::string why = options.Parse(args, positional);
    if (!why.empty())
        return fail(why + "\n" + usage);
    if (positional.size() != 1 || request.output.empty())
        return fail("needs one image and -o OUT.png\n" + usage);
    request.source = positional[0];

    // Reader notes go to standard error, as the reasons for giving up do.
    ImageReader::OpenedImage opened = ImageReader::OpenImage(request.source);
    if (!opened.reader)
        return fail("cannot open " + request.source + ": " + opened.error);
    Viewer viewer;
    viewer.autoRefresh = false; // the picture below is all that is read
    const std::string openWhy = viewer.Open(std::move(opened.reader));
    if (!openWhy.empty())
        return fail("cannot show " + request.source + ": " + openWhy);
    if (request.level >= viewer.Session().LevelCount())
        return fail("--level: the image has " + std::to_string(viewer.Session().LevelCount()) + " level(s)");

    const ImageDescription image{viewer.Size(), viewer.Session().DimensionNames(), viewer.PixelSizes()};
    ViewState state = viewer.State();
    DisplayState display = viewer.Display();
    const std::string applyWhy =
        ApplyRenderRequest(request, image, viewer.Session().reader->GetValueMap(), state, display);
    if (!applyWhy.empty())
        return fail(applyWhy);
    for (int index = 0; index < kViewCount; ++index)
        if ((request.views & (1 << index)) && !state.Drawable(index, image.size))
            return fail("the view's axes are not two different dimensions of the image");

    const ViewPicture picture = RenderPicture(viewer.Session(), state, display, image.pixelSizes, request.views,
                                              request.width, request.height, request.level);
    if (picture.IsNull())
        return fail("nothing to draw (the picture would not fit in memory, or the planes could not be read)");
    const QImage out(picture.pixels.get(), picture.width, picture.height, 4 * static_cast<qsizetype>(picture.width),
                     QImage::Format_RGB32);
    if (!out.save(QString::fromLocal8Bit(request.output.c_str())))
        return fail("cannot write " + request.output);
    return 0;
}
