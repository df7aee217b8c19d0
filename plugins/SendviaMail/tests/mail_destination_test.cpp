// The mail plug-in as the application drives it: the size question, cancel,
// and the hand-off to a recorder standing in for xdg-email, with the
// mailto handler of a temporary home.
#include "DestinationTestHost.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QKeyEvent>
#include <QSpinBox>

namespace {

using namespace kdtest;
using kdf::Dictionary;

const auto& gEnvironment = DestinationEnvironment::instance();

constexpr std::int32_t kFailSend = std::int32_t(0x8FFC020Au);
constexpr std::size_t kMiB = 1048576;

// Typed as a user would, key by key.
void typeText(QLineEdit* field, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(field, &press);
    }
}

void pressBackspace(QLineEdit* field) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(field, &press);
}

class Mail : public ::testing::Test {
protected:
    void SetUp() override {
        sources_ = homeRoot() / "written";
        fs::remove_all(sources_);
        fs::create_directories(sources_);
        log_ = homeRoot() / "mailed";
        fs::remove(log_);
        const fs::path bin = homeRoot() / "mailbin";
        writeExecutable(bin / "xdg-email",
                        "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '" + log_.string() + "'\necho -- >> '" +
                            log_.string() + "'\n");
        if (!pathSet_) {
            const char* path = std::getenv("PATH");
            PluginTestEnvironment::home().env().set("PATH", bin.string() + ":" + (path ? path : "/usr/bin:/bin"));
            pathSet_ = true;
        }
        setMailHandler(true);
        plugin_ = loadPlugin("SendviaMail");
        ASSERT_TRUE(plugin_.plugin);
    }
    void TearDown() override {
        if (plugin_.plugin) plugin_.plugin->disconnect();
        setPluginsDefaults(std::nullopt);
    }
    // The desktop's mailto handler: an entry named in mimeapps.list.
    static void setMailHandler(bool present) {
        const fs::path list = PluginTestEnvironment::home().config() / "mimeapps.list";
        const fs::path entry = homeRoot() / "data" / "applications" / "mailer.desktop";
        if (present) {
            TempHome::writeText(list, "[Default Applications]\nx-scheme-handler/mailto=mailer.desktop\n");
            TempHome::writeText(entry, "[Desktop Entry]\nType=Application\nName=Mailer\nExec=true %u\n"
                                       "MimeType=x-scheme-handler/mailto;\n");
        } else {
            fs::remove(list);
            fs::remove(entry);
        }
    }
    void connectUser(std::optional<bool> ask = std::nullopt, std::optional<long long> limit = std::nullopt) {
        Dictionary user;
        user["AppUser.ID"] = std::string("u1");
        if (ask) user["AppUser.ShowMsgExceedsLimit"] = *ask;
        if (limit) user["AppUser.LimitOfAttachment"] = *limit;
        storeUsers("SendviaMail", {user});
        ASSERT_EQ(plugin_.plugin->connect(), 0);
    }
    std::string writeSource(const std::string& name, std::size_t bytes) {
        const fs::path path = sources_ / name;
        TempHome::writeText(path, std::string(bytes, 'm'));
        return path.string();
    }
    std::int32_t send(const std::vector<std::string>& files) {
        return plugin_.plugin->executeOperationWithID(std::string("u1"), files, true, &parent_);
    }

    fs::path sources_, log_;
    LoadedPlugin plugin_;
    QWidget parent_;
    static inline bool pathSet_ = false;
};

TEST_F(Mail, TheLimitItselfPassesOneByteMoreAsksOnce) {
    struct Case {
        const char* what;
        std::optional<bool> ask;
        std::size_t firstBytes;
        std::size_t thirdBytes;
        int answer;    // to the question, when one comes
        bool asked;
        std::int32_t result;
    };
    const Case cases[] = {
        {"exactly 5 MiB", std::nullopt, 3 * kMiB, 0, 0, false, 0},
        {"one byte more, OK", std::nullopt, 3 * kMiB + 1, 3 * kMiB, 0, true, 0},
        {"one byte more, Cancel", std::nullopt, 3 * kMiB + 1, 3 * kMiB, 1, true, kFailSend},
        {"question turned off", false, 9 * kMiB, 3 * kMiB, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(log_);
        connectUser(c.ask);
        // The first two reach the limit or pass it; the third, past it
        // too, brings no second question.
        const std::vector<std::string> files{writeSource("a.pdf", c.firstBytes), writeSource("b.pdf", 2 * kMiB),
                                             writeSource("c d.pdf", c.thirdBytes)};
        ScriptedUser user;
        user.alert(c.answer);
        EXPECT_EQ(send(files), c.result);
        EXPECT_EQ(user.alerts().size(), c.asked ? 1 : 0);
        if (c.asked) {
            EXPECT_EQ(user.alerts()[0], "The attachments are larger than your limit. Send them anyway?");
        }
        if (c.result == 0) {
            // One --attach per file, names as they are; the files stay.
            EXPECT_EQ(waitForRecord(log_, 1),
                      "--attach\n" + files[0] + "\n--attach\n" + files[1] + "\n--attach\n" + files[2] + "\n--\n");
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_FALSE(fs::exists(log_));
        }
        for (const auto& f : files) EXPECT_TRUE(fs::exists(f));
        plugin_.plugin->disconnect();
    }
}

TEST_F(Mail, CancelDuringThePauseEndsWithoutAlert) {
    connectUser();
    const std::vector<std::string> files{writeSource("a.pdf", 10)};
    ScriptedUser user;
    QString state;
    // The bar reaches 1 after the sizes are added; cancel then.
    user.onShow("PluginProgressWindow", [&](QWidget* w) {
        state = labelText(w, 100);
        auto* bar = w->findChild<QProgressBar*>();
        QObject::disconnect(bar, &QProgressBar::valueChanged, nullptr, nullptr);
        QObject::connect(bar, &QProgressBar::valueChanged, bar, [w](int value) {
            if (value == 1) clickTag(w, 103);
        });
    });
    EXPECT_EQ(send(files), kFailSend);
    EXPECT_EQ(state, "Checking the size of the files…");
    EXPECT_TRUE(user.alerts().isEmpty());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(fs::exists(log_));
}

TEST_F(Mail, NoMailProgramIsReportedAfterTheProgress) {
    setMailHandler(false);
    connectUser();
    ScriptedUser user;
    EXPECT_EQ(send({writeSource("a.pdf", 10)}), kFailSend);
    EXPECT_EQ(user.alerts(), QStringList{"No mail program is set up."});
    EXPECT_FALSE(fs::exists(log_));
    setMailHandler(true);
    // Files that are all gone: nothing to attach.
    connectUser(false);
    ScriptedUser quiet;
    EXPECT_EQ(send({(sources_ / "gone.pdf").string()}), kFailSend);
    EXPECT_TRUE(quiet.alerts().isEmpty());
}

TEST_F(Mail, StoredLimitsAreClampedAndTheSummaryFollowsTheCheckBox) {
    struct Case {
        std::optional<bool> ask;
        std::optional<long long> limit;
        std::string summary;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, "Ask above 5 MB"}, {true, 0, "Ask above 1 MB"},  {true, -7, "Ask above 1 MB"},
        {true, 150, "Ask above 99 MB"},                 {true, 42, "Ask above 42 MB"}, {false, 42, ""},
    };
    for (const Case& c : cases) {
        connectUser(c.ask, c.limit);
        std::optional<std::string> summary;
        EXPECT_EQ(plugin_.plugin->showSettingSummaryWithID(std::string("u1"), &summary), 0);
        EXPECT_EQ(summary, c.summary);
        plugin_.plugin->disconnect();
    }
    // A stored 0 asks above 1 MiB: two files of 1 MiB and one byte.
    connectUser(true, 0);
    ScriptedUser user;
    user.alert(1);
    EXPECT_EQ(send({writeSource("a.pdf", kMiB), writeSource("b.pdf", 1)}), kFailSend);
    EXPECT_EQ(user.alerts().size(), 1);
}

TEST_F(Mail, SettingsFieldKeepsOneToNinetyNine) {
    connectUser(true, 150);
    QStringList seen;
    ScriptedUser user;
    user.window("MailSettingWindow", [&](QWidget* w) {
        auto* field = w->findChild<QLineEdit*>();
        auto* stepper = w->findChild<QSpinBox*>();
        seen << field->text();
        // Emptied, then 0, then three digits (refused) and Arabic-Indic 7.
        field->selectAll();
        pressBackspace(field);
        seen << field->text();
        field->selectAll();
        typeText(field, "0");
        seen << field->text();
        field->selectAll();
        typeText(field, "123");
        seen << field->text();
        field->selectAll();
        typeText(field, QString::fromUtf8("\u0667"));
        seen << field->text() + "/" + QString::number(stepper->value());
        w->findChild<QCheckBox*>()->setChecked(false);
        clickTag(w, 206);
    });
    EXPECT_EQ(plugin_.plugin->showSettingWithID(std::string("u1"), &parent_), 0);
    EXPECT_TRUE(user.done());
    EXPECT_EQ(seen, (QStringList{"99", "1", "1", "12", "7/7"}));
    plugin_.plugin->disconnect();
    const Dictionary stored = storedUser("SendviaMail");
    EXPECT_EQ(kdf::find(stored, "AppUser.LimitOfAttachment")->toInteger(), 7);
    EXPECT_EQ(kdf::find(stored, "AppUser.ShowMsgExceedsLimit")->toBool(), false);
    plugin_.plugin->connect();
}

} // namespace
