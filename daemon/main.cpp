// The daemon's entry: takes no arguments and reads no configuration.
#include "daemon/lifecycle.h"

int main()
{
    return tqdaemonMain();
}
