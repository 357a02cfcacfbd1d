#include "GzipIndex.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace ImageReader {

namespace {

constexpr size_t kInputBytes = size_t(1) << 16;
constexpr size_t kScratchBytes = size_t(1) << 16;
constexpr unsigned kWindowBytes = 32768;

} // namespace

std::unique_ptr<GzipIndex> GzipIndex::Open(const std::filesystem::path& path, std::uint64_t start, std::uint64_t span,
                                           std::string& error)
{
    std::unique_ptr<GzipIndex> index(new GzipIndex);
    index->m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (index->m_fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    index->m_start = start;
    index->m_span = std::max<std::uint64_t>(span, 1);
    index->m_input.reset(new unsigned char[kInputBytes]);
    index->m_scratch.reset(new unsigned char[kScratchBytes]);
    return index;
}

GzipIndex::~GzipIndex()
{
    if (m_initialised)
        inflateEnd(&m_z);
    if (m_fd >= 0)
        ::close(m_fd);
}

bool GzipIndex::Restart(const Point* point)
{
    m_live = false;
    // From the start the header is read (gzip or zlib, found automatically); from a point
    // on, the data is raw deflate.
    const int windowBits = point ? -15 : 15 + 32;
    if (!m_initialised) {
        if (inflateInit2(&m_z, windowBits) != Z_OK)
            return false;
        m_initialised = true;
    } else if (inflateReset2(&m_z, windowBits) != Z_OK) {
        return false;
    }
    m_z.avail_in = 0;
    m_z.next_in = m_input.get();
    m_out = point ? point->out : 0;
    m_in = point ? point->in : 0;
    if (point && point->bits) {
        // The point's first bits are the top of the byte before it.
        unsigned char byte = 0;
        if (::pread(m_fd, &byte, 1, static_cast<off_t>(m_start + point->in - 1)) != 1 ||
            inflatePrime(&m_z, point->bits, byte >> (8 - point->bits)) != Z_OK)
            return false;
    }
    if (point && point->windowBytes &&
        inflateSetDictionary(&m_z, point->window.get(), point->windowBytes) != Z_OK)
        return false;
    m_live = true;
    return true;
}

void GzipIndex::Record()
{
    Point point;
    point.out = m_out;
    point.in = m_in - m_z.avail_in;
    point.bits = m_z.data_type & 7;
    point.window.reset(new (std::nothrow) unsigned char[kWindowBytes]);
    uInt have = 0;
    if (!point.window || inflateGetDictionary(&m_z, point.window.get(), &have) != Z_OK)
        return;
    point.windowBytes = have;
    m_points.push_back(std::move(point));
}

bool GzipIndex::Advance(unsigned char* dest, size_t bytes)
{
    while (bytes > 0) {
        if (m_z.avail_in == 0) {
            const ssize_t got = ::pread(m_fd, m_input.get(), kInputBytes, static_cast<off_t>(m_start + m_in));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                // The file ends (or cannot be read) inside the stream.
                m_failedAt = std::min(m_failedAt, m_out);
                m_live = false;
                return false;
            }
            m_in += static_cast<std::uint64_t>(got);
            m_z.next_in = m_input.get();
            m_z.avail_in = static_cast<uInt>(got);
        }
        const size_t chunk = std::min<size_t>(bytes, dest ? UINT_MAX : kScratchBytes);
        m_z.next_out = dest ? dest : m_scratch.get();
        m_z.avail_out = static_cast<uInt>(chunk);
        // Z_BLOCK stops at each block boundary, where a point can be taken.
        const int ret = inflate(&m_z, Z_BLOCK);
        const size_t produced = chunk - m_z.avail_out;
        m_out += produced;
        bytes -= produced;
        if (dest)
            dest += produced;
        const bool ended = ret == Z_STREAM_END;
        const bool stuck = ret == Z_BUF_ERROR && produced == 0 && m_z.avail_in > 0;
        if ((ret != Z_OK && ret != Z_BUF_ERROR && !ended) || (ended && bytes > 0) || stuck) {
            m_failedAt = std::min(m_failedAt, m_out);
            m_live = false;
            return false;
        }
        const bool boundary = (m_z.data_type & 128) && !(m_z.data_type & 64);
        if (boundary && !ended && m_out >= (m_points.empty() ? 0 : m_points.back().out) + m_span)
            Record();
    }
    return true;
}

bool GzipIndex::Read(std::uint64_t at, void* dest, size_t bytes)
{
    if (bytes > m_failedAt || at > m_failedAt - bytes)
        return false;
    // The last point at or before `at`; the live stream instead when it is between the two.
    const auto after = std::upper_bound(m_points.begin(), m_points.end(), at,
                                        [](std::uint64_t offset, const Point& p) { return offset < p.out; });
    const Point* point = after == m_points.begin() ? nullptr : &*(after - 1);
    const std::uint64_t from = point ? point->out : 0;
    if (!(m_live && m_out <= at && m_out >= from) && !Restart(point)) {
        m_live = false;
        return false;
    }
    return Advance(nullptr, at - m_out) && Advance(static_cast<unsigned char*>(dest), bytes);
}

} // namespace ImageReader
