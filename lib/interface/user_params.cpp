/*
** Field tables of the user and status records.
*/
#include "lib/interface/user_params.h"
