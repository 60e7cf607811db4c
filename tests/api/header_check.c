/* The public header alone, as a C99 program sees it. */
#include "beatxm.h"

int header_check_c(void);
int header_check_c(void) {
    bxm_options options = BXM_OPTIONS_INIT;
    bxm_error error = {BXM_OK, -1, {0}};
    bxm_player* player;
    options.profile = BXM_PROFILE_DEMO;
    player = bxm_open((const void*)0, 0, &options, &error);
    bxm_close(player);
    return error.code;
}
