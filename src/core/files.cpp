#include "core/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace velmor::core {

Result<std::string> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(Error::other("read " + path.string() + ": " + std::strerror(errno)));
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return fail(Error::other("read " + path.string() + ": read failed"));
  return ss.str();
}

Result<void> create_dirs(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) return fail(Error::other("create " + dir.string() + ": " + ec.message()));
  return {};
}

Result<void> write_file_atomic(const fs::path& path, std::string_view contents,
                               FileAccess access) {
  auto err = [&](const std::string& why) {
    return fail(Error::other("write " + path.string() + ": " + why));
  };
  if (path.has_parent_path()) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) return err(ec.message());
  }
  fs::path tmp = path;
  tmp += ".tmp";
  mode_t mode = access == FileAccess::OwnerOnly ? 0600 : 0644;
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return err(std::strerror(errno));
  // A leftover temporary file keeps its old mode; secrets must not.
  if (access == FileAccess::OwnerOnly) ::fchmod(fd, mode);
  std::size_t done = 0;
  while (done < contents.size()) {
    ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      return err(std::strerror(saved));
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    int saved = errno;
    ::unlink(tmp.c_str());
    return err(std::strerror(saved));
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    ::unlink(tmp.c_str());
    return err(std::strerror(saved));
  }
  return {};
}

Result<void> set_owner_only(const fs::path& path) {
  if (::chmod(path.c_str(), S_IRUSR | S_IWUSR) != 0)
    return fail(Error::other("chmod " + path.string() + ": " + std::strerror(errno)));
  return {};
}

}  // namespace velmor::core
