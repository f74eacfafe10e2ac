// Asked by ctest before it runs the tests: 0 where a test can have a network
// namespace of its own, as the tests take one (own_network(), which
// ZEV_TEST_NO_NAMESPACES=1 makes fail), 1 where it cannot.
#include "support/net_helpers.h"

int main()
{
    return own_network() ? 0 : 1;
}
