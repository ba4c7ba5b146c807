/*
** The command-line option parser: single-letter options in the manner of
** POSIX getopt. A host calls getopt in a loop until it returns -1, then
** reads the remaining arguments from argv[optind] on.
**
** The option string lists the option letters; a letter followed by ':'
** takes an argument, given as -bvalue or -b value. Options may be grouped
** (-ab). Options end at the first argument that does not start with
** OptionSwitchChar (not consumed), at "--" and at a lone "-" (both
** consumed). The vector is never reordered.
**
** The state is process-wide and never reset by the parser: set optind back
** to 1 before parsing another vector. A group left half-scanned by an
** earlier parse is continued only while argv[optind] is the argument it
** stood in; otherwise scanning starts afresh. The names have C linkage, as
** the C library's parser has where there is one: in a program linked with
** this library they are this parser (the declarations of <unistd.h> agree).
*/
#pragma once

extern "C" {

/* Index of the next argument to examine; starts at 1. */
extern int optind;
/* The argument of the option just returned, pointing into the vector. */
extern char* optarg;
/* When not 0, errors are reported on stderr as perror would. */
extern int opterr;

/* The next option letter (0 to 255); '?' for a letter not in optstring (or
** ':') and for a missing argument, after printing "get command line
** option: Invalid argument" when opterr is set (errno becomes EINVAL); -1
** at the end of the options. */
int getopt(int argc, char* const argv[], const char* optstring) noexcept;
}

/* The character that opens an option argument; '-' unless changed. */
extern char OptionSwitchChar;
