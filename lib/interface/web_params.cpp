/*
** Field tables of the web records.
*/
#include "lib/interface/web_params.h"
