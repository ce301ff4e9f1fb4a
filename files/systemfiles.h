#pragma once
// File names as the system spells them, and files opened for reading without ever blocking.
//
// A Linux file name is any string of bytes. Bytes that are not UTF-8 travel inside a QString as the
// lone surrogates U+DC80..U+DCFF (one per byte), so a name taken from the command line or a directory
// reaches open() again byte for byte; valid UTF-8 decodes as usual and never yields such surrogates.

#include <QByteArray>
#include <QString>

#include <cstdio>

// The name's bytes for the system.
QByteArray SystemFileName(const QString& name);
// The name for the program, from the system's bytes (argv, a directory entry).
QString FileNameFromSystem(const QByteArray& bytes);

// A name chosen in a file dialog, whose listing turned bytes that are not UTF-8 into U+FFFD: each such
// path component is matched against the directory's entries and replaced by the one entry it can stand
// for. Names without U+FFFD, and names that match no entry or several, come back unchanged.
QString RecoverChosenFileName(const QString& name);

// Opens a regular file for reading, following links; -1 for anything else (a directory, a named pipe,
// a device), with the reason in `reason` ("No such file or directory", "not a regular file (a named
// pipe)"). Nothing waits in open(), and a device is never opened at all (opening a tty moves its modem
// lines). The descriptor is blocking, close-on-exec and the caller's.
int OpenRegularFileForReading(const QString& name, QString& reason);

// Reads up to `count` bytes at `offset` of a descriptor from OpenRegularFileForReading: the number read
// (0 at the end of the file), or -1 with the system's reason in `reason`. Leaves no file position behind
// that another reader could depend on.
long long ReadFileAt(int fd, unsigned long long offset, void* buffer, unsigned count, QString& reason);
// The size of an open file; -1 with the system's reason in `reason`.
long long FileSizeOf(int fd, QString& reason);
void CloseFileDescriptor(int fd);

// Creates or empties a file and opens it for writing, buffered; nullptr with the system's reason in
// `reason`. A named pipe that nobody reads fails at once instead of blocking the caller.
std::FILE* CreateFileForWriting(const QString& name, QString& reason);

// fopen: the name in the system's own spelling, the stream not inherited by child processes.
std::FILE* OpenFileStream(const QString& name, const char* mode);

// Opens a file for appending, creating it: a regular file or a named pipe only. A terminal or any
// other device is refused without being opened (opening a tty moves its modem lines), and so is a
// named pipe that nobody reads; nullptr with the reason.
std::FILE* OpenFileForAppending(const QString& name, QString& reason);

// Writes all of `bytes` to a file opened for appending, unbuffered: on Linux in one write() a
// time, so that whole lines of one writer never interleave with another's on an appended file. False
// with errno's value in `error`. It may block while a pipe's reader does not read.
bool AppendWhole(std::FILE* file, const QByteArray& bytes, int& error);

// True when both names lead to one existing file (links followed; hard links too where the system
// can tell).
bool SameExistingFile(const QString& first, const QString& second);

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed, so that the next file opened
// (a serial port, an image) can never become standard output or error. First thing in main().
void EnsureStandardDescriptors();
