#include "Measurements.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

#include "StopToken.h"

namespace Measure {

using ImageReader::ImageSlice;
using ImageReader::Vector;

namespace {

// More rows than this from one region is a request nobody can read; the region is skipped.
constexpr size_t maxRowsPerRegion = size_t(1) << 24;

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string PositionColumn(const std::string& dimName, int dim)
{
    const std::string n = Lower(dimName);
    if (n == "z")
        return "Slice";
    if (n == "t" || n == "time")
        return "Frame";
    return dimName.empty() ? "dim" + std::to_string(dim) : dimName;
}

// The indices a region takes in each dimension >= 2, or false when it cannot be measured.
bool RegionPlanes(const Region& r, const Vector& size, const ImageDescription& d, const MeasureOptions& o,
                  std::vector<std::vector<int>>& choices)
{
    size_t rows = 1;
    choices.clear();
    for (int dim = 2; dim < static_cast<int>(size.size()); ++dim) {
        std::vector<int> c;
        const int pinned = r.PositionOf(dim);
        const bool every =
            dim == d.channelDim || std::find(o.through.begin(), o.through.end(), dim) != o.through.end();
        if (pinned != Region::All) {
            if (pinned >= size[dim])
                return false;
            c.push_back(pinned);
        } else if (every) {
            for (int i = 0; i < size[dim]; ++i)
                c.push_back(i);
        } else {
            const size_t k = static_cast<size_t>(dim - 2);
            c.push_back(std::clamp(k < o.cursor.size() ? o.cursor[k] : 0, 0, size[dim] - 1));
        }
        rows *= c.size();
        if (c.empty() || rows > maxRowsPerRegion)
            return false;
        choices.push_back(std::move(c));
    }
    return true;
}

// Channel fastest, then the other dimensions with the last one slowest.
bool RowBefore(const MeasureRow& a, const MeasureRow& b, int channelDim)
{
    if (a.region != b.region)
        return a.region < b.region;
    for (size_t k = a.position.size(); k-- > 0;) {
        if (static_cast<int>(k) + 2 == channelDim)
            continue;
        if (a.position[k] != b.position[k])
            return a.position[k] < b.position[k];
    }
    const size_t c = static_cast<size_t>(channelDim - 2);
    return channelDim >= 2 && c < a.position.size() && a.position[c] < b.position[c];
}

std::string CsvField(const std::string& s)
{
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

std::string TsvField(std::string s)
{
    for (char& c : s)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return s;
}

std::string Join(const std::vector<std::vector<std::string>>& lines, char separator)
{
    std::string out;
    for (const std::vector<std::string>& line : lines) {
        for (size_t i = 0; i < line.size(); ++i) {
            if (i)
                out += separator;
            out += separator == ',' ? CsvField(line[i]) : TsvField(line[i]);
        }
        out += '\n';
    }
    return out;
}

bool HasChannel(const MeasureTable& t)
{
    return t.channelDim >= 2;
}

// "Ch" and the other position columns of a row, 1-based.
void PositionCells(const MeasureTable& t, const MeasureRow& row, std::vector<std::string>& cells)
{
    if (HasChannel(t)) {
        const size_t c = static_cast<size_t>(t.channelDim - 2);
        cells.push_back(c < row.position.size() ? std::to_string(row.position[c] + 1) : "");
    }
    for (size_t k = 0; k < row.position.size(); ++k)
        if (static_cast<int>(k) + 2 != t.channelDim)
            cells.push_back(std::to_string(row.position[k] + 1));
}

void PositionHeader(const MeasureTable& t, std::vector<std::string>& header)
{
    if (HasChannel(t))
        header.push_back("Ch");
    for (int dim = 2; dim < static_cast<int>(t.dimNames.size()); ++dim)
        if (dim != t.channelDim)
            header.push_back(PositionColumn(t.dimNames[static_cast<size_t>(dim)], dim));
}

} // namespace

MeasureTable MeasureImage(ImageReader::ImageBase<unsigned short>& image, const ImageDescription& description,
                          const std::vector<Region>& regions, const MeasureOptions& options)
{
    MeasureTable table;
    const Vector size = image.GetSize();
    table.channelDim = description.channelDim >= 2 && description.channelDim < static_cast<int>(size.size())
                           ? description.channelDim
                           : -1;
    for (unsigned d = 0; d < size.size(); ++d)
        table.dimNames.push_back(d < description.dimNames.size() ? description.dimNames[d] : std::string());
    const auto pixelSize = [&](size_t d) { return d < description.pixelSizes.size() ? description.pixelSizes[d] : 0.0; };
    const Calibration cal = Calibration::FromNanometres(pixelSize(0), pixelSize(1));
    table.unit = cal.unit;
    if (size.size() < 2 || size[0] <= 0 || size[1] <= 0) {
        table.skippedRegions = regions.size();
        return table;
    }
    const int width = size[0], height = size[1];

    // Plane -> the regions measured on it, so each plane is read once.
    std::map<std::vector<int>, std::vector<size_t>> planes;
    std::vector<std::unique_ptr<RegionMeasurer>> measurers(regions.size());
    std::vector<std::vector<int>> choices;
    for (size_t r = 0; r < regions.size(); ++r) {
        if (!regions[r].IsValid() || !RegionPlanes(regions[r], size, description, options, choices)) {
            ++table.skippedRegions;
            continue;
        }
        measurers[r] = std::make_unique<RegionMeasurer>(regions[r], width, height, cal);
        // Every combination of the choices, odometer style.
        std::vector<size_t> at(choices.size(), 0);
        std::vector<int> position(choices.size());
        for (;;) {
            for (size_t k = 0; k < choices.size(); ++k)
                position[k] = choices[k][at[k]];
            planes[position].push_back(r);
            size_t k = 0;
            while (k < choices.size() && ++at[k] == choices[k].size())
                at[k++] = 0;
            if (k == choices.size())
                break;
        }
    }

    const auto label = [&](size_t r) {
        return regions[r].name.empty() ? std::string(RegionKindName(regions[r].kind)) + " " + std::to_string(r + 1)
                                       : regions[r].name;
    };
    size_t sinceRelease = 0;
    const size_t planeBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * sizeof(unsigned short);
    for (const auto& [position, members] : planes) {
        sinceRelease += planeBytes;
        if (sinceRelease > options.memoryBudget / 4) {
            image.ReleaseMappedPages();
            sinceRelease = 0;
        }
        if (ImageReader::StopRequested()) {
            table.cancelled = true;
            break;
        }
        Vector at;
        for (int i : position)
            at.push_back(i);
        const ImageSlice<unsigned short> slice = image.GetSlice(at);
        const Vector ss = slice.GetSize();
        const bool missing = slice.IsEmpty() || ss.size() < 2 || ss[0] != width || ss[1] != height;
        table.missingPlanes += missing;
        for (size_t r : members) {
            MeasureRow row;
            row.region = r;
            row.label = label(r);
            row.position = position;
            row.missing = missing;
            row.stats = measurers[r]->Measure(missing ? nullptr : slice.GetData(), description.valueMap,
                                              options.profiles ? &row.profile : nullptr);
            table.rows.push_back(std::move(row));
        }
    }
    std::stable_sort(table.rows.begin(), table.rows.end(),
                     [&](const MeasureRow& a, const MeasureRow& b) { return RowBefore(a, b, table.channelDim); });
    return table;
}

std::string FormatNumber(double value)
{
    if (std::isnan(value))
        return std::string();
    char text[32];
    if (std::abs(value) < 1e15 && value == std::floor(value))
        std::snprintf(text, sizeof text, "%.0f", value == 0 ? 0.0 : value);
    else
        std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::vector<std::string> TableHeader(const MeasureTable& table)
{
    std::vector<std::string> header = {" ", "Label"};
    PositionHeader(table, header);
    for (const char* name : {"Area", "Mean", "StdDev", "Min", "Max", "X", "Y", "BX", "BY", "Width", "Height", "IntDen",
                             "RawIntDen", "Length", "Angle"})
        header.push_back(name);
    if (table.missingPlanes > 0)
        header.push_back("Note");
    return header;
}

std::vector<std::vector<std::string>> TableCells(const MeasureTable& table)
{
    std::vector<std::vector<std::string>> lines;
    for (size_t i = 0; i < table.rows.size(); ++i) {
        const MeasureRow& row = table.rows[i];
        const Statistics& s = row.stats;
        std::vector<std::string> cells = {std::to_string(i + 1), row.label};
        PositionCells(table, row, cells);
        for (double v : {s.area, s.mean, s.stdDev, s.min, s.max, s.x, s.y, s.bx, s.by, s.width, s.height, s.intDen,
                         s.rawIntDen, s.length, s.angle})
            cells.push_back(FormatNumber(v));
        if (table.missingPlanes > 0)
            cells.push_back(row.missing ? "missing plane" : "");
        lines.push_back(std::move(cells));
    }
    return lines;
}

std::string TableToCsv(const MeasureTable& table)
{
    std::vector<std::vector<std::string>> lines = TableCells(table);
    lines.insert(lines.begin(), TableHeader(table));
    return Join(lines, ',');
}

std::string TableToTsv(const MeasureTable& table)
{
    std::vector<std::vector<std::string>> lines = TableCells(table);
    lines.insert(lines.begin(), TableHeader(table));
    return Join(lines, '\t');
}

std::string ProfilesToCsv(const MeasureTable& table)
{
    std::vector<std::string> header = {"Label"};
    PositionHeader(table, header);
    header.push_back("Distance");
    header.push_back("Value");
    std::vector<std::vector<std::string>> lines = {header};
    for (const MeasureRow& row : table.rows) {
        std::vector<std::string> lead = {row.label};
        PositionCells(table, row, lead);
        for (size_t i = 0; i < row.profile.value.size(); ++i) {
            std::vector<std::string> cells = lead;
            cells.push_back(FormatNumber(row.profile.distance[i]));
            cells.push_back(FormatNumber(row.profile.value[i]));
            lines.push_back(std::move(cells));
        }
    }
    return Join(lines, ',');
}

} // namespace Measure
