#include "os/files.h"

#include <dirent.h>    // opendir, readdir
#include <fcntl.h>     // open, O_EXCL, O_NOFOLLOW
#include <signal.h>    // kill
#include <sys/stat.h>  // fstat, fchmod
#include <unistd.h>    // fsync, unlink, getpid, access

#include <cerrno>
#include <charconv>
#include <mutex>
#include <random>
#include <utility>

namespace varnel {
namespace {

std::mutex faultMutex;
std::function<int(const std::string&)>& writeFault() {
  static auto* fault = new std::function<int(const std::string&)>;  // read by abandoned threads
  return *fault;
}

int injectedFault(const std::string& path) {
  std::lock_guard lock(faultMutex);
  return writeFault() ? writeFault()(path) : 0;
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string temporaryNameIn(const std::string& folder) {
  thread_local std::mt19937 random{std::random_device{}()};
  char name[64];
  std::snprintf(name, sizeof name, "%.*s%ld-%08x%.*s", static_cast<int>(kTemporaryPrefix.size()),
                kTemporaryPrefix.data(), static_cast<long>(::getpid()),
                static_cast<unsigned>(random()), static_cast<int>(kTemporarySuffix.size()),
                kTemporarySuffix.data());
  return folder + "/" + name;
}

// The rename itself is on the disk only once the folder is; a failure here
// loses nothing already written.
void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// The process id in a temporary file's name; 0 when the name is not one.
long processOfTemporary(std::string_view name) {
  if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) return 0;
  name.remove_prefix(kTemporaryPrefix.size());
  long pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc() || end == name.data() || *end != '-') return 0;
  return pid;
}

bool processIsGone(long pid) { return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

}  // namespace

FileError fileErrorOf(int errnoValue) {
  switch (errnoValue) {
    case 0:
      return FileError::none;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return FileError::diskFull;
    case EACCES:
    case EPERM:
    case EROFS:
      return FileError::permission;
    case ENAMETOOLONG:
      return FileError::nameTooLong;
    case ENOENT:
      return FileError::notFound;
    case ELOOP:
      return FileError::isLink;
    case ENOTDIR:
      return FileError::notDirectory;
    default:
      return FileError::other;
  }
}

std::string_view fileErrorText(FileError error) {
  switch (error) {
    case FileError::none:
      return "";
    case FileError::diskFull:
      return "磁盘空间不足";
    case FileError::permission:
      return "没有写入权限";
    case FileError::nameTooLong:
      return "文件名过长";
    case FileError::notFound:
      return "文件夹不存在";
    case FileError::isLink:
      return "是符号链接";
    case FileError::notDirectory:
      return "不是文件夹";
    case FileError::other:
      break;
  }
  return "无法写入文件";
}

ReplacingFile::ReplacingFile(std::string path, std::optional<unsigned> mode)
    : path_(std::move(path)) {
  const std::string folder = folderOf(path_);
  for (int attempt = 0; attempt < 16; ++attempt) {
    temporary_ = temporaryNameIn(folder);
    // O_EXCL with O_NOFOLLOW: a name someone planted is never reused or followed.
    const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          static_cast<mode_t>(mode.value_or(0644)));
    if (fd < 0) {
      if (errno == EEXIST) continue;
      const int reason = errno;
      temporary_.clear();
      fail(fileErrorOf(reason));
      return;
    }
    // The mode given to open is narrowed by the umask; a kept mode must stay.
    if (mode) ::fchmod(fd, static_cast<mode_t>(*mode));
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
      ::close(fd);
      fail(FileError::other);
    }
    return;
  }
  temporary_.clear();
  fail(FileError::other);
}

ReplacingFile::~ReplacingFile() {
  if (file_ || !temporary_.empty()) fail(error_ == FileError::none ? FileError::other : error_);
}

void ReplacingFile::fail(FileError error) {
  if (file_) std::fclose(std::exchange(file_, nullptr));
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
  if (error_ == FileError::none) error_ = error;
}

bool ReplacingFile::write(std::string_view bytes) {
  if (!file_) return false;
  if (const int fault = injectedFault(path_)) {
    fail(fileErrorOf(fault));
    return false;
  }
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    fail(fileErrorOf(errno));
    return false;
  }
  return true;
}

FileError ReplacingFile::commit() {
  if (!file_) return error_ == FileError::none ? FileError::other : error_;
  std::FILE* file = std::exchange(file_, nullptr);
  // The data must be on the disk before the rename makes it the file.
  int reason = 0;
  if (std::fflush(file) != 0 || std::ferror(file) != 0 || ::fsync(::fileno(file)) != 0) {
    reason = errno != 0 ? errno : EIO;
  }
  if (std::fclose(file) != 0 && reason == 0) reason = errno;
  if (reason == 0 && ::rename(temporary_.c_str(), path_.c_str()) != 0) reason = errno;
  if (reason != 0) {
    fail(fileErrorOf(reason));
    return error_;
  }
  temporary_.clear();
  syncFolder(folderOf(path_));
  return FileError::none;
}

FileError replaceFileAtomically(const std::string& path, std::string_view bytes,
                                std::optional<unsigned> mode) {
  ReplacingFile file(path, mode);
  if (!file.write(bytes)) return file.error();
  return file.commit();
}

int removeStaleTemporaryFiles(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const long pid = processOfTemporary(entry->d_name);
    if (pid > 0 && processIsGone(pid) && ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) {
      ++removed;
    }
  }
  ::closedir(dir);
  return removed;
}

ReadState readRegularFile(const std::string& path, std::string& content) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadState::absent : ReadState::unreadable;
  struct stat info {};
  ReadState state = ReadState::unreadable;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    content.clear();
    char buffer[16384];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      if (n == 0) {
        state = ReadState::read;
        break;
      }
      content.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return state;
}

std::optional<unsigned> filePermissions(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<unsigned>(info.st_mode & 07777);
}

FileError checkRealDirectory(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return FileError::none;
  }
  const int reason = errno;
  // O_NOFOLLOW on a link to a folder reports ENOTDIR (or ELOOP): tell the two apart.
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) return FileError::isLink;
  return fileErrorOf(reason);
}

bool isWritableDirectory(const std::string& folder) { return ::access(folder.c_str(), W_OK) == 0; }

void setFileWriteFault(std::function<int(const std::string& path)> fault) {
  std::lock_guard lock(faultMutex);
  writeFault() = std::move(fault);
}

}  // namespace varnel
