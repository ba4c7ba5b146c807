/*
** Windows Sockets (ws2_32.cpp).
** Included through platform/win32.h only.
*/
#pragma once

#include "platform/posix/types.h"
