// What Linux's /proc says of a process: CPU time, resident memory. Read with
// plain system calls into a buffer on the stack, so that a reading moves
// neither the heap nor the reader's own memory figures.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace proc {

/// The start of /proc/PID/NAME ("self" for this process), or "" if unreadable.
inline std::string Read(const std::string& pid, const char* name) {
  char text[4096] = {};
  const int fd = open(("/proc/" + pid + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  return got > 0 ? std::string(text, static_cast<std::size_t>(got)) : std::string();
}

/// CPU time the process has used, user and system, in clock ticks; -1 if unknown.
inline long CpuTicks(pid_t pid) {
  const std::string stat = Read(std::to_string(pid), "stat");
  const std::size_t after = stat.rfind(')');  // the name may hold spaces
  long utime = 0, stime = 0;
  if (after == std::string::npos ||
      std::sscanf(stat.c_str() + after + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld",
                  &utime, &stime) != 2)
    return -1;
  return utime + stime;
}

/// This process's resident memory now, in KiB; -1 if unknown.
inline long ResidentKiB() {
  long pages = 0, resident = 0;
  if (std::sscanf(Read("self", "statm").c_str(), "%ld %ld", &pages, &resident) != 2) return -1;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

/// The most resident memory the process held so far ("12345 kB"), or "".
inline std::string PeakResident(pid_t pid) {
  const std::string status = Read(std::to_string(pid), "status");
  const std::size_t at = status.find("VmHWM:");
  if (at == std::string::npos) return {};
  const std::size_t start = status.find_first_not_of(" \t", at + 6);
  return status.substr(start, status.find('\n', start) - start);
}

}  // namespace proc
