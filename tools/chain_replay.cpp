// chain-replay: runs the chain without a window. Reads one mouse position
// "X Y" per line from standard input, runs one frame step per line, and
// prints the 41 final points, one "X Y" line each, with enough digits that
// every float reads back to the same bits.
#include <cerrno>
#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "chain/chain.hpp"
#include "chain/printable.hpp"
#include "replay_input.hpp"

namespace {

constexpr int kBadInput = 2;
constexpr int kFailure = 1;

void Usage(std::FILE* to) {
  std::fputs(
      "usage: chain-replay < path\n"
      "Reads one mouse position \"X Y\" per line, runs one frame of the chain per\n"
      "line and prints the 41 final points (head first, anchor last), \"X Y\" with\n"
      "9 significant digits each.\n",
      to);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // Bytes as they are: text mode would end the input at a Ctrl-Z byte and
  // write "\r\n" for every "\n".
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    Usage(stdout);
    return 0;
  }
  if (const char* unexpected = chain::UnexpectedArgument(argc, argv, {"--help", "-h"})) {
    std::fprintf(stderr, "chain-replay: unexpected argument '%s' (try --help)\n",
                 chain::Printable(unexpected).c_str());
    return kBadInput;
  }

  chain::ChainPoints points{};
  chain::PinAnchor(points);
  unsigned faults = chain::kNoFault;
  long faultLine = 0;
  long frame = 0;
  const replay::ReadOutcome outcome =
      replay::ReadMousePath(stdin, [&](const replay::MouseSample& mouse) {
        ++frame;
        const unsigned raised = chain::StepChainChecked(points, mouse.X, mouse.Y);
        if (raised != chain::kNoFault && faults == chain::kNoFault) {
          faults = raised;
          faultLine = frame;
        }
      });
  if (outcome.readError) {
    std::fprintf(stderr, "chain-replay: %s\n", outcome.error.c_str());
    return kFailure;
  }
  if (!outcome.ok) {
    std::fprintf(stderr, "chain-replay: line %ld: %s\n", outcome.line, outcome.error.c_str());
    return kBadInput;
  }
  if (faults != chain::kNoFault) {
    std::fprintf(stderr, "chain-replay: frame %ld: floating-point %s in the frame step\n",
                 faultLine, chain::DescribeFloatFaults(faults));
    return kFailure;
  }

  for (const chain::LinkPoint& p : points)
    std::printf("%.9g %.9g\n", static_cast<double>(p.X), static_cast<double>(p.Y));
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    // A reader that stopped reading (`| head -1`) wanted no more: no message,
    // as where the broken pipe's signal ends the program.
    if (errno != EPIPE)
      std::fprintf(stderr, "chain-replay: cannot write the points: %s\n", std::strerror(errno));
    return kFailure;
  }
  return 0;
}
