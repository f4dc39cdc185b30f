#include "storage/PendingUpload.h"

#include "storage/ContentRecords.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace sendova::server {

namespace {
constexpr std::size_t WriteBufferSize = 1024 * 1024;
} // namespace

PendingUpload::PendingUpload(std::filesystem::path path, int fd) : m_path(std::move(path)), m_fd(fd) {}

PendingUpload::~PendingUpload()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    if (!m_kept) {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
}

bool PendingUpload::write(const char *data, std::size_t size)
{
    m_sha.update(data, size);
    m_size += size;
    if (m_buffer.capacity() < WriteBufferSize) {
        m_buffer.reserve(WriteBufferSize);
    }
    if (m_buffer.size() + size > WriteBufferSize && !flush()) {
        return false;
    }
    m_buffer.append(data, size);
    return m_buffer.size() < WriteBufferSize || flush();
}

bool PendingUpload::flush()
{
    const char *data = m_buffer.data();
    std::size_t left = m_buffer.size();
    while (left > 0) {
        const auto written = ::write(m_fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_error = errno;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    m_buffer.clear();
    return true;
}

void PendingUpload::sync()
{
    if (!flush() || ::fsync(m_fd) != 0) {
        throw StorageError(std::string("cannot flush a received file to disk: ") +
                           std::strerror(m_error ? m_error : errno));
    }
}

const std::string &PendingUpload::finish()
{
    if (m_hash.empty()) {
        m_hash = m_sha.finalHex();
    }
    return m_hash;
}

} // namespace sendova::server
