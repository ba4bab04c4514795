// The program's command line: which mode it starts in, and the run that
// extracts archives without a window.
#pragma once

#include <QStringList>

// Exit codes of the command-line run.
enum CommandLineExit { exitExtracted = 0, exitSomeFailed = 1, exitUsageError = 2 };

// True when the arguments (argv, program name first) hold an option, so the
// program runs without a window and needs no display: --extract-to, --help,
// --help-all, --version, or any other option (reported as a usage error).
// Qt's own options ("-platform offscreen", "-style Fusion", "-reverse", with
// one dash or two) are no reason to leave the window out. Arguments after
// "--" are file names.
bool runsWithoutWindow(int argc, char **argv);

// True when the arguments ask for --help-all, whose list of Qt's own window
// options only a GUI application can give.
bool asksForHelpAll(int argc, char **argv);

// The arguments without Qt's own options and their values (those after "--"
// are kept).
QStringList withoutQtOptions(const QStringList &arguments);

// The files and folders to list in the window (every argument after the
// program name but Qt's own options, relative ones made absolute), for a
// start without options.
QStringList windowStartPaths(const QStringList &arguments);

// The one line that says the window cannot open for want of a display, for
// standard error; the program then exits with exitUsageError.
QString noDisplayLine();

// The whole command-line mode, in a QCoreApplication: parses the arguments
// (GNU style: --help and --version print and give 0), then extracts every
// archive named, or found in a folder named, into the --extract-to folder.
// Prints a line per archive on stdout, the failure summary on stderr, and a
// progress line on stderr when it is a terminal. Returns exitExtracted when
// every archive was extracted, exitSomeFailed when one was not, and
// exitUsageError for arguments that make no run.
int commandLineMain(const QStringList &arguments);
