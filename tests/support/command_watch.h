// The handset commands the UI task receives, seen through the task manager's
// observer as they are delivered.
#pragma once
#include <cstdint>
#include <ostream>
#include <vector>

struct SentCommand {
  int32_t command;
  uintptr_t argument;
  bool operator==(const SentCommand&) const = default;
};
inline void PrintTo(const SentCommand& c, std::ostream* os) {
  *os << "{" << c.command << ", " << c.argument << "}";
}

class CommandWatch {
 public:
  CommandWatch();   // installs itself as the task manager's observer
  ~CommandWatch();  // removes it
  CommandWatch(const CommandWatch&) = delete;
  CommandWatch& operator=(const CommandWatch&) = delete;

  std::vector<SentCommand> seen;  // oldest first
};
