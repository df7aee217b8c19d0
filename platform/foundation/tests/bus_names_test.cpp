#include <foundation/BusNames.h>

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* identifier;
    const char* busName;
    const char* interfaceName; // with the element "evQL"
    const char* path;
};

TEST(BusNames, OneRuleForNamesInterfacesAndPaths) {
    const Case cases[] = {
        {"jp.co.tavrolek-sys.kd720", "jp.co.tavrolek-sys.kd720", "jp.co.tavrolek_sys.kd720.evQL",
         "/jp/co/tavrolek_sys/kd720"},
        {"com.tavrolek.Quillora.KdCompanion", "com.tavrolek.Quillora.KdCompanion",
         "com.tavrolek.Quillora.KdCompanion.evQL", "/com/tavrolek/Quillora/KdCompanion"},
        // Other characters become '_'; elements starting with a digit get
        // '_' in names, not in paths.
        {"com.9x.a b+c", "com._9x.a_b_c", "com._9x.a_b_c.evQL", "/com/9x/a_b_c"},
        {"org.-dash.x", "org.-dash.x", "org._dash.x.evQL", "/org/_dash/x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.identifier);
        EXPECT_EQ(kdf::busNameForIdentifier(c.identifier), c.busName);
        EXPECT_EQ(kdf::busInterfaceForIdentifier(c.identifier, "evQL"), c.interfaceName);
        EXPECT_EQ(kdf::busPathForIdentifier(c.identifier), c.path);
    }
}

} // namespace
