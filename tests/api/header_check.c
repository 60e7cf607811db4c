/* The public header alone, as a C99 program sees it. */
#include "beatxm.h"

int header_check_c(void);
int header_check_c(void) {
    bxm_options options = {BXM_PROFILE_DEMO, BXM_RATE_DEFAULT, 1};
    bxm_error error = {BXM_OK, -1, {0}};
    bxm_player* player = bxm_open((const void*)0, 0, &options, &error);
    bxm_close(player);
    return error.code;
}
