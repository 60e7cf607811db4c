// The public header alone, as a C++11 program sees it.
#include "beatxm.h"

int header_check_cxx();
int header_check_cxx() {
    bxm_options options = BXM_OPTIONS_INIT;
    bxm_error error{BXM_OK, -1, {0}};
    bxm_player* player = bxm_open(nullptr, 0, &options, &error);
    bxm_close(player);
    return error.code;
}
