#include "server/http/PrivateFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace server {
namespace {

// "maria (uid 1000)", or "uid 61234" for a user without a name (a dynamic one gone).
std::string UserText(uid_t uid) {
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[1024];
  if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return std::string(found->pw_name) + " (uid " + std::to_string(uid) + ")";
  }
  return "uid " + std::to_string(uid);
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Closes a descriptor on every path.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

std::string ReadFile(const std::string& path, const std::string& what, size_t maxBytes, bool secret) {
  const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)};
  if (file.fd < 0) {
    const int error = errno;
    std::string why = std::string(std::strerror(error));
    if (error == EACCES) {
      // Said in the terms of the user the server runs as, with the file's own owner and mode when
      // they can be read.
      struct stat st {};
      why += "; the server runs as " + UserText(geteuid());
      if (::stat(path.c_str(), &st) == 0) {
        why += " and the file is owned by " + UserText(st.st_uid) + " with mode " + ModeText(st.st_mode);
      }
      if (secret) {
        why += ". Hand it to the service as a systemd credential (LoadCredential=), or give it to the server's "
               "user with mode 0600, or to root with mode 0640 and a group the server's user is in";
      }
    }
    throw std::runtime_error("cannot read " + what + ": " + why);
  }
  // The owner and mode are read from the open file itself, so they are those of what is read.
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) throw std::runtime_error("cannot read " + what + ": " + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) throw std::runtime_error(what + " is not a regular file");
  if (secret) {
    const std::string fault = PrivateFileFault(st.st_uid, st.st_mode, geteuid(), what, path);
    if (!fault.empty()) throw std::runtime_error(fault);
  }
  if (static_cast<size_t>(st.st_size) > maxBytes) throw std::runtime_error(what + " is too large");
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("cannot read " + what + ": " + std::strerror(errno));
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > maxBytes) throw std::runtime_error(what + " is too large");
  }
  return text;
}

}  // namespace

std::string PrivateFileFault(uid_t owner, mode_t mode, uid_t reader, const std::string& what,
                             const std::string& path) {
  const std::string shown = " (owned by " + UserText(owner) + ", mode " + ModeText(mode) + ")";
  if (owner != 0 && owner != reader) {
    return what + " must be owned by the user the server runs as, " + UserText(reader) + ", or by root" + shown;
  }
  // Never readable by others; never writable but by its owner; group read only when root owns it.
  const mode_t allowed = owner == 0 ? (S_IRWXU | S_IRGRP) : S_IRWXU;
  if ((mode & (S_IRWXG | S_IRWXO) & ~allowed) == 0) return {};
  return what + " can be read or written by other users" + shown + "; its secrets may have leaked. Make it " +
         "private (chmod 600 " + path + (owner == 0 ? "; owned by root, chmod 640 lets its group read it" : "") +
         ") and replace its secrets if others could read them";
}

std::string ReadPrivateFile(const std::string& path, const std::string& what, size_t maxBytes) {
  return ReadFile(path, what, maxBytes, true);
}

std::string ReadPublicFile(const std::string& path, const std::string& what, size_t maxBytes) {
  return ReadFile(path, what, maxBytes, false);
}

}  // namespace server
