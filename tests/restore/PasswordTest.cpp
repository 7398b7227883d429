#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <deque>
#include <optional>

#include "RestoreFixture.h"
#include "platform/DialogUnits.h"
#include "restore/CPW.h"
#include "support/ScriptedPrompt.h"

namespace corvane {
namespace {

using test::RestoreTest;
using test::ScriptedPrompt;

QLineEdit* PasswordBox(QWidget* prompt) {
    return qobject_cast<QLineEdit*>(FindControl(prompt, 1012));
}
QPushButton* Button(QWidget* prompt, int id) {
    return qobject_cast<QPushButton*>(FindControl(prompt, id));
}

std::string Stored(const std::string& password) {
    std::string padded;
    EXPECT_TRUE(PadPassword(password, padded));
    return padded;
}

TEST(PasswordPrompt, AcceptsOnlyTheStoredPasswordWithoutItsTrailingSpaces) {
    struct Case {
        const char* stored;
        const char* typed;
        bool accepted;
    };
    for (const Case& c :
         {Case{"abc", "abc", true}, Case{"abc", "abc   ", true}, Case{"abc", "ABC", false},
          Case{"abc", " abc", false}, Case{"0123456789abcdef", "0123456789abcdef", true},
          Case{"0123456789abcdef", "0123456789abcde", false}}) {
        SCOPED_TRACE(std::string(c.stored) + " typed as '" + c.typed + "'");
        ScriptedPrompt messages;
        CPW prompt;
        prompt.expectedPassword = Stored(c.stored);
        prompt.show();
        PasswordBox(&prompt)->setText(QString::fromUtf8(c.typed));
        Button(&prompt, 1)->click();
        EXPECT_EQ(prompt.result() == QDialog::Accepted, c.accepted);
        EXPECT_EQ(prompt.isVisible(), !c.accepted) << "a wrong password keeps the prompt open";
        if (c.accepted) {
            EXPECT_TRUE(messages.messages.empty());
        } else {
            ASSERT_EQ(messages.Texts(), std::vector<std::string>{"Invalid Password"});
            EXPECT_EQ(messages.messages[0].icon, MessageIcon::Error);
            EXPECT_EQ(messages.messages[0].caption, "Corvane");
        }
    }
}

TEST(PasswordPrompt, TakesSixteenCharactersAndCancelsAfterFailedTries) {
    ScriptedPrompt messages;
    CPW prompt;
    prompt.expectedPassword = Stored("0123456789abcdef");
    prompt.show();
    QTest::keyClicks(PasswordBox(&prompt), "0123456789abcdefX");
    EXPECT_EQ(PasswordBox(&prompt)->text(), "0123456789abcdef");
    EXPECT_EQ(PasswordBox(&prompt)->echoMode(), QLineEdit::Password);

    PasswordBox(&prompt)->setText("wrong");
    Button(&prompt, 1)->click();
    Button(&prompt, 1)->click();
    Button(&prompt, 2)->click();
    EXPECT_EQ(prompt.result(), QDialog::Rejected);
    EXPECT_FALSE(prompt.isVisible());
    EXPECT_EQ(messages.Texts().size(), 2u);
}

// Answers the password prompts a window opens: each answer is typed and OK pressed; nullopt
// presses Cancel.
class PromptAnswers {
  public:
    explicit PromptAnswers(std::deque<std::optional<QString>> answers)
        : answers_(std::move(answers)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { AnswerOne(); });
        timer_.start(5);
    }
    int prompts = 0;  // answers given

  private:
    void AnswerOne() {
        auto* prompt = qobject_cast<CPW*>(QApplication::activeModalWidget());
        if (!prompt || answers_.empty()) return;
        std::optional<QString> answer = answers_.front();
        answers_.pop_front();
        ++prompts;
        if (!answer) {
            Button(prompt, 2)->click();
            return;
        }
        PasswordBox(prompt)->setText(*answer);
        Button(prompt, 1)->click();
    }

    std::deque<std::optional<QString>> answers_;
    QTimer timer_;
};

TEST_F(RestoreTest, ProtectedFoldersOpenWithTheirPasswordAllAtOnce) {
    const std::vector<test::SampleFile> files = {{"s.txt", "s"}};
    Stream("Other 0812251430 0.cvn", "\\", files, "other");
    Stream("Safe 0812251430 0.cvn", "\\", files, "secret");
    Stream("Safe 0812251430 1.cvn", "\\Docs", files, "secret");
    Stream("Safe 0901011200 0.cvn", "\\", files, "secret");
    Stream("Safe 0912312359 0.cvn", "\\", files, "secret");
    gate = std::make_unique<test::GatedFileSystem>("0912312359");  // this stream waits
    Open({}, gate.get(), false);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Item({"Safe", "09-01-01 12:00"}) != nullptr;
        },
        60000));
    EXPECT_EQ(Outline(),
              "Other\n  08-12-25 14:30\n    <protected>\n"
              "Safe\n  08-12-25 14:30\n    <protected>\n    <protected>\n  09-01-01 12:00\n"
              "    <protected>\n");
    CTreeItem* locked = Item({"Safe", "08-12-25 14:30", "<protected>"});  // \Docs, by its name
    EXPECT_EQ(locked->image, kImageLockedFolder);

    // Restoring through the parent must not pass a protected folder without its password.
    RestoreEntries entries;
    CollectForRestore(Tree(), Item({"Safe", "08-12-25 14:30"}), entries);
    EXPECT_EQ(entries.lockedPasswords, (std::vector<std::string>(2, Stored("secret"))));

    ScriptedPrompt messages;
    {
        PromptAnswers cancel({std::nullopt});
        Tree().expandItem(locked);
        EXPECT_EQ(cancel.prompts, 1);
    }
    EXPECT_FALSE(locked->isExpanded());
    EXPECT_EQ(locked->record->locked, 1);
    EXPECT_NE(FindPlaceholder(Tree(), locked), nullptr);

    {
        PromptAnswers answers({QStringLiteral("Secret"), QStringLiteral("secret")});
        Tree().expandItem(locked);
        EXPECT_EQ(answers.prompts, 2);
    }
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Invalid Password"});
    EXPECT_TRUE(locked->isExpanded());
    EXPECT_EQ(ChildTexts(locked), std::vector<std::string>{"s.txt"});
    EXPECT_EQ(locked->image, kImageFolder);
    EXPECT_EQ(
        Outline(),
        "Other\n  08-12-25 14:30\n    <protected>\n"
        "Safe\n  08-12-25 14:30\n    Docs\n      s.txt\n    ROOT\n  09-01-01 12:00\n    ROOT\n");

    // Opened later without a prompt, as is a stream the scan reads from now on.
    Expand({"Safe", "08-12-25 14:30", "ROOT"});
    gate->Release();
    WaitForScan();
    EXPECT_NE(Item({"Safe", "09-12-31 23:59", "ROOT"}), nullptr) << Outline();
    EXPECT_EQ(ChildTexts(Item({"Safe", "08-12-25 14:30", "ROOT"})),
              std::vector<std::string>{"s.txt"});
    EXPECT_EQ(messages.Texts().size(), 1u);
}

}  // namespace
}  // namespace corvane
