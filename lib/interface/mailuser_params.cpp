/*
** Field tables of the mail user records.
*/
#include "lib/interface/mailuser_params.h"
