// How the program's own words reach the user, the same on every system.
#pragma once

#include <string>

namespace window {

/// Where the program has no console of its own (a Windows program started
/// from a console window), connects standard output and error to the
/// console it was started from; standard streams that lead somewhere (a
/// terminal, a pipe, a file) are kept. Text goes out as written, "\n" ends
/// a line. Call first thing.
void ConnectConsole();

/// Where standard input, output or error is closed, opens it on the null
/// device, so that nothing the program opens later (the display's
/// connection) takes its number and receives what is meant for it. Call
/// once the command line is handled, before the window.
void KeepStandardStreamsOpen();

/// The program's name, which begins the platform's own lines on standard
/// error ("NAME: ignoring ..."); none until set. Set it first thing.
void SetProgramName(const std::string& name);
const std::string& ProgramName();

/// Tells the user of a failure, `line` being one line: on standard error
/// where it leads somewhere, otherwise (a Windows program started from
/// Explorer) in a message box.
void ReportFailure(const std::string& line);

}  // namespace window
