#include "MeasureFile.h"

#include <fstream>

#include "OpenImage.h"
#include "RegionFiles.h"

namespace Measure {

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

ImageDescription DescribeImage(ImageReader::ImageReaderBase<unsigned short>& reader)
{
    ImageDescription d;
    d.valueMap = reader.GetValueMap();
    const int n = static_cast<int>(reader.GetSize().size());
    for (int i = 0; i < n; ++i) {
        d.dimNames.push_back(reader.GetDimName(static_cast<unsigned>(i)));
        d.pixelSizes.push_back(reader.GetDimPixelSize(static_cast<unsigned>(i)));
        const std::string name = Lower(d.dimNames.back());
        if (i >= 2 && (name.rfind('c', 0) == 0 || name.rfind('w', 0) == 0 || name.rfind("lambda", 0) == 0))
            d.channelDim = i;
    }
    const int hinted = reader.GetChannelHintDim();
    if (hinted >= 2 && hinted < n)
        d.channelDim = hinted;
    return d;
}

MeasureTable MeasureFile(ImageReader::ImageReaderBase<unsigned short>& reader, const std::vector<Region>& regions,
                         const MeasureRequest& request)
{
    const ImageDescription description = DescribeImage(reader);
    MeasureOptions options;
    options.cursor = request.cursor;
    options.profiles = request.profiles;
    options.memoryBudget = request.memoryBudget;
    for (const std::string& name : request.through)
        for (size_t d = 2; d < description.dimNames.size(); ++d)
            if (Lower(description.dimNames[d]) == Lower(name))
                options.through.push_back(static_cast<int>(d));
    return MeasureImage(reader, description, regions, options);
}

std::optional<MeasureTable> MeasureFile(const std::string& image, const std::filesystem::path& regions,
                                        const std::filesystem::path& csv, const MeasureRequest& request,
                                        std::string* error)
{
    ImageReader::OpenedImage opened = ImageReader::OpenImage(image);
    if (!opened.reader) {
        if (error)
            *error = opened.error;
        return std::nullopt;
    }
    ImageReader::ImageReaderBase<unsigned short>& reader = *opened.reader;
    std::vector<std::string> names;
    for (unsigned d = 0; d < reader.GetSize().size(); ++d)
        names.push_back(reader.GetDimName(d));
    const std::optional<std::vector<Region>> rois = ReadRegions(regions, ImageJAxes::FromNames(names), error);
    if (!rois)
        return std::nullopt;
    MeasureTable table = MeasureFile(reader, *rois, request);
    std::ofstream out(csv, std::ios::binary | std::ios::trunc);
    out << TableToCsv(table);
    out.close();
    if (!out) {
        if (error)
            *error = "cannot write " + csv.string();
        return std::nullopt;
    }
    return table;
}

} // namespace Measure
