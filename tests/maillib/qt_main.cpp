#include <QCoreApplication>
#include <gtest/gtest.h>

// The sockets want an application object (Qt connects to it for its shutdown); the tests
// themselves run without an event loop, as the receive cycle does.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
