// The channel table: one record per pattern channel.
#include "channel.h"

namespace music {

Channel channelTable[channelTableSize];

} // namespace music
