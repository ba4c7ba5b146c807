/*
** zuadm http: one HTTP/1.0 request with the library's client.
*/
#pragma once

/* Runs "http" with its arguments; argv[0] is the command's name. Returns
** zuadm's exit code: 0 for status 200, 1 for a failure, 2 for a bad
** command line. */
int HttpCommand(int argc, char** argv);
