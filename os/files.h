// Files on disk: written whole or not at all, read whole, and directories
// checked without following links. Paths are native (UTF-8 on Linux).
//
// Never throws; every failure comes back as a FileError a message can name.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace varnel {

enum class FileError {
  none,
  diskFull,      // no space left, or over the quota
  permission,    // not allowed, or a read-only file system
  nameTooLong,   // a name over the file system's limit
  notFound,      // a folder on the way does not exist
  isLink,        // a symbolic link where a real file or folder must be
  notDirectory,  // something else where a folder must be
  other,
};

// The reason behind an errno value.
FileError fileErrorOf(int errnoValue);

// The reason as the program's messages name it ("磁盘空间不足"); empty for none.
std::string_view fileErrorText(FileError error);

// Temporary files of this program are ".varnel-<process id>-<8 hex>.part",
// hidden, unique, and named after the process that writes them, so files left
// by a process that died can be told from those still being written.
inline constexpr std::string_view kTemporaryPrefix = ".varnel-";
inline constexpr std::string_view kTemporarySuffix = ".part";

// A file that replaces `path` only when it is complete. The data goes into a
// temporary file beside `path` (created with O_EXCL, so nothing that already
// has the name is reused or followed); commit() flushes it to the disk,
// renames it over `path` and flushes the folder, so a crash leaves the old
// file or the new one, never a torn one. Destroyed without a successful
// commit, the temporary file is removed and `path` is untouched.
class ReplacingFile {
 public:
  // `mode`: the permission bits of the new file, whatever the umask; omitted:
  // 0644 narrowed by the umask.
  explicit ReplacingFile(std::string path, std::optional<unsigned> mode = std::nullopt);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // none once the temporary file is open; otherwise why it could not be made.
  FileError error() const { return error_; }
  // The open temporary file for streaming writers; null after a failure.
  std::FILE* stream() const { return file_; }
  const std::string& temporaryPath() const { return temporary_; }

  // Appends bytes; false (and error() says why) once any write failed.
  bool write(std::string_view bytes);
  // Flush, sync, rename, sync the folder. none on success; after a failure
  // the temporary file is gone and `path` untouched.
  FileError commit();

 private:
  void fail(FileError error);

  std::string path_;
  std::string temporary_;
  std::FILE* file_ = nullptr;
  FileError error_ = FileError::none;
};

// `bytes` as the whole new content of `path`, through a ReplacingFile.
FileError replaceFileAtomically(const std::string& path, std::string_view bytes,
                                std::optional<unsigned> mode = std::nullopt);

// Removes this program's temporary files in `folder` whose process no longer
// runs (a crash, a kill, a power cut). Files of running processes stay.
// Returns how many were removed.
int removeStaleTemporaryFiles(const std::string& folder);

enum class ReadState { read, absent, unreadable };
// The whole content of a regular file. absent: nothing has the name;
// unreadable: a folder, a device, no permission, or a read error.
ReadState readRegularFile(const std::string& path, std::string& content);

// The permission bits of an existing file, following links.
std::optional<unsigned> filePermissions(const std::string& path);

// Whether `path` is a real folder, opened without following a symbolic link
// in its last component: none, isLink, notDirectory, notFound or another
// reason. A folder reached through links higher up the path is accepted.
FileError checkRealDirectory(const std::string& path);

// Whether the current user may create files in `folder`.
bool isWritableDirectory(const std::string& folder);

// Tests only: consulted before each write of a ReplacingFile with the final
// path; a non-zero errno value makes that write fail with it (a full disk
// cannot be made on demand). Empty: writes run normally.
void setFileWriteFault(std::function<int(const std::string& path)> fault);

}  // namespace varnel
