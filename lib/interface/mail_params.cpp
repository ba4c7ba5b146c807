/*
** Field tables of the mail records.
*/
#include "lib/interface/mail_params.h"
