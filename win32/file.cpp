#include "win32/file.hpp"

#ifdef _WIN32
#include <windows.h>

#include "win32/text.hpp"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace win32 {

#ifdef _WIN32

Error_Code read_whole_file(const std::string& name, std::string& contents) {
    HANDLE h = CreateFileW(utf8_to_wide(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    contents.clear();
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h, buffer, sizeof buffer, &got, nullptr)) {
            DWORD error = GetLastError();
            CloseHandle(h);
            return error;
        }
        if (got == 0) break;
        contents.append(buffer, got);
    }
    CloseHandle(h);
    return 0;
}

File::~File() { close(); }

Error_Code File::open_existing_at_end(const std::string& name) {
    close();
    HANDLE h = CreateFileW(utf8_to_wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    SetFilePointer(h, 0, nullptr, FILE_END);
    handle_ = h;
    return 0;
}

Error_Code File::create(const std::string& name) {
    close();
    HANDLE h = CreateFileW(utf8_to_wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    handle_ = h;
    return 0;
}

std::size_t File::write(std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        DWORD wrote = 0;
        if (!WriteFile(handle_, data.data() + done, static_cast<DWORD>(data.size() - done), &wrote, nullptr) ||
            wrote == 0)
            break;
        done += wrote;
    }
    return done;
}

bool File::is_open() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }

void File::close() noexcept {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

#else

Error_Code error_code_from_errno(int error) noexcept {
    switch (error) {
        case ENOENT: return 2;
        case ENOTDIR: return 3;
        case EMFILE: return 4;
        case EACCES:
        case EPERM: return 5;
        case EBADF: return 6;
        case ENOMEM: return 8;
        case EBUSY:
        case ETXTBSY: return 32;
        case EINVAL: return 87;
        default: return static_cast<Error_Code>(error);
    }
}

Error_Code read_whole_file(const std::string& name, std::string& contents) {
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return error_code_from_errno(errno);
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return 5;  // Windows refuses to open a directory as a file: access denied
    }
    contents.clear();
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            Error_Code code = error_code_from_errno(errno);
            ::close(fd);
            return code;
        }
        if (got == 0) break;
        contents.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return 0;
}

File::~File() { close(); }

Error_Code File::open_existing_at_end(const std::string& name) {
    close();
    int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return error_code_from_errno(errno);
    ::lseek(fd, 0, SEEK_END);
    handle_ = fd;
    return 0;
}

Error_Code File::create(const std::string& name) {
    close();
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return error_code_from_errno(errno);
    handle_ = fd;
    return 0;
}

std::size_t File::write(std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t wrote = ::write(handle_, data.data() + done, data.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) break;
        done += static_cast<std::size_t>(wrote);
    }
    return done;
}

bool File::is_open() const noexcept { return handle_ >= 0; }

void File::close() noexcept {
    if (handle_ >= 0) ::close(handle_);
    handle_ = -1;
}

#endif

}  // namespace win32
