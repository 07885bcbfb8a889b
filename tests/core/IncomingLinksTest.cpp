#include "app/IncomingLinks.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace quillmoss;

TEST(IncomingLinksTest, PassesOnlyAppLinksInOrder) {
    IncomingLinks links;
    QSignalSpy spy(&links, &IncomingLinks::linkReceived);
    links.handleArguments({"--verbose", "QUILLMOSS://qr?data=b", "https://example.com", "quillmoss://qr?data=a",
                           "quillmoss:/nope", ""});
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).toString(), "QUILLMOSS://qr?data=b");
    EXPECT_EQ(spy.at(1).at(0).toString(), "quillmoss://qr?data=a");
}
