#include "ui/DesktopSettings.h"

#include "ui/AppearanceSettings.h"
#include "ui/DesktopPanel.h"
#include "ui/FormSection.h"
#include "relay/TestServer.h"
#include "WidgetTestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

namespace tellwire {
namespace {

using testing::finalTranscript;

class DesktopSettingsTest : public testing::ModelTest {
protected:
    std::unique_ptr<DesktopSettings> settings;

    void SetUp() override
    {
        settings = std::make_unique<DesktopSettings>(*state);
        settings->resize(500, 590);
        settings->show();
    }
};

TEST_F(DesktopSettingsTest, SectionsComeInOrderWithTheirTexts)
{
    const QList<FormSection*> sections = settings->findChildren<FormSection*>();
    QStringList headers;
    for (qsizetype i = 0; i < sections.size(); ++i) {
        headers.append(sections[i]->header()->text());
        if (i > 0) {
            EXPECT_GT(sections[i]->y(), sections[i - 1]->y()) << "each below the one before";
        }
    }
    EXPECT_EQ(headers, (QStringList{"手机号注册 / 登录", "连接手机", "主题皮肤", "输入法"}));

    QStringList labels;
    for (const QLabel* label : settings->findChildren<QLabel*>())
        labels.append(label->text());
    for (const char* text :
         {"中国大陆手机号", "6 位验证码", "首次验证会自动注册；以后登录同一手机号可恢复这台电脑的连接。",
          "线上服务", "手机和电脑使用同一手机号登录后自动连接，无需配对码。", "显示模式",
          "自定义颜色 #RRGGBB",
          "在系统设置 → 键盘 → 输入法中添加「语音输入」。Shift + 空格切换中英文。"})
        EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;

    EXPECT_EQ(settings->requestCodeButton()->text(), QStringLiteral("获取验证码"));
    EXPECT_EQ(settings->loginButton()->text(), QStringLiteral("登录并绑定此电脑"));
    EXPECT_EQ(settings->keyboardSettingsButton()->text(), QStringLiteral("打开键盘与输入法设置"));
    EXPECT_EQ(settings->clearHistoryButton()->text(), QStringLiteral("清空本机转写记录"));
    ASSERT_TRUE(qEnvironmentVariableIsEmpty("TELLWIRE_RELAY_ORIGIN"));
    EXPECT_EQ(settings->hostLabel()->text(), QStringLiteral("relay.orrisfeld.cc"));

    // Our own fields never send their keys through our own input method.
    for (QLineEdit* field : {settings->phoneField(), settings->codeField(),
                             settings->appearanceSettings()->accentField()})
        EXPECT_FALSE(field->testAttribute(Qt::WA_InputMethodEnabled));
}

// Counted in user-perceived characters, blanks included.
TEST_F(DesktopSettingsTest, LoginNeedsExactlySixCharactersAsTyped)
{
    EXPECT_FALSE(settings->loginButton()->isEnabled());
    const std::pair<QString, bool> cases[] = {{"12345", false}, {"1234567", false}, {"12345e\u0301", true}};
    for (const auto& [code, enabled] : cases) {
        settings->codeField()->setText(code);
        EXPECT_EQ(settings->loginButton()->isEnabled(), enabled) << code.toStdString();
        EXPECT_TRUE(settings->requestCodeButton()->isEnabled());
    }
    settings->codeField()->clear();
    QTest::keyClicks(settings->codeField(), QStringLiteral("12345 "));
    EXPECT_TRUE(settings->loginButton()->isEnabled());
    // ...but the sign-in gets the trimmed code, five characters, and says so.
    settings->phoneField()->setText(QStringLiteral("13800138000"));
    QTest::mouseClick(settings->loginButton(), Qt::LeftButton);
    EXPECT_EQ(state->error(), QStringLiteral("请输入 6 位验证码"));
}

TEST_F(DesktopSettingsTest, RedErrorRowShowsLastOnlyWhileThereIsAnError)
{
    EXPECT_FALSE(settings->errorLabel()->isVisible());
    state->setError(QStringLiteral("验证码错误、已过期或登录已失效"));
    EXPECT_TRUE(settings->errorLabel()->isVisible());
    EXPECT_EQ(settings->errorLabel()->text(), QStringLiteral("验证码错误、已过期或登录已失效"));
    const QColor ink = settings->errorLabel()->palette().color(QPalette::WindowText);
    EXPECT_TRUE(ink.red() > 180 && ink.green() < 100 && ink.blue() < 100) << "red";
    const FormSection* last = settings->findChildren<FormSection*>().last();
    EXPECT_GE(settings->errorLabel()->mapTo(settings.get(), QPoint(0, 0)).y(),
              last->mapTo(settings.get(), QPoint(0, last->height())).y());
    state->setError(QString());
    EXPECT_FALSE(settings->errorLabel()->isVisible());
}

TEST_F(DesktopSettingsTest, ClearingHistoryEmptiesThePanelAndKeepsTheSignIn)
{
    secrets.save(QStringLiteral("desktop-token"), QStringLiteral("t0ken"));
    DesktopState signedIn(secrets, defaults, &clipboard);
    DesktopSettings form(signedIn);
    DesktopPanel panel(signedIn);
    signedIn.addToHistory(finalTranscript("a", QStringLiteral("第一句")));
    ASSERT_FALSE(panel.transcript()->toPlainText().isEmpty());

    form.show();
    QTest::mouseClick(form.clearHistoryButton(), Qt::LeftButton);
    EXPECT_TRUE(signedIn.history().isEmpty());
    EXPECT_EQ(panel.transcript()->toPlainText(), QString());
    EXPECT_TRUE(signedIn.hasToken());
    EXPECT_EQ(secrets.load(QStringLiteral("desktop-token")), QStringLiteral("t0ken"));
}

// Blanks, ideographic spaces and tabs around the phone and code go; the field
// keeps what was typed.
TEST_F(DesktopSettingsTest, ButtonsSendPhoneAndCodeWithoutSurroundingBlanks)
{
    testing::TestServer relay;
    qputenv("TELLWIRE_RELAY_ORIGIN", relay.base().toUtf8());
    settings.reset();
    state = std::make_unique<DesktopState>(secrets, defaults, &clipboard);
    qunsetenv("TELLWIRE_RELAY_ORIGIN");
    SetUp();
    auto request = [&](size_t n) {
        const auto request = relay.requests().at(n);
        return std::pair{request.target,
                         QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object()};
    };
    relay.on("/v1/auth/phone/request", testing::TestServer::reply(200, "{}"));
    relay.on("/v1/auth/phone/verify", testing::TestServer::reply(200, R"({"token":"desk-token-1"})"));

    const QString typed = QStringLiteral(" \u3000\t+8613800138000\u3000");
    settings->phoneField()->setText(typed);
    QTest::mouseClick(settings->requestCodeButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay.requestCount() == 1; }, 10000));
    EXPECT_EQ(request(0).first, "/v1/auth/phone/request");
    EXPECT_EQ(request(0).second.value("phone").toString(), QStringLiteral("+8613800138000"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return settings->statusLabel()->text() == QStringLiteral("短信请求已提交，验证码 5 分钟内有效"); }, 10000));
    EXPECT_EQ(settings->phoneField()->text(), typed);

    settings->phoneField()->setText(QStringLiteral("\t13800138000 "));
    QTest::keyClicks(settings->codeField(), QStringLiteral("654321"));
    QTest::mouseClick(settings->loginButton(), Qt::LeftButton);
    // Signed in, the client goes on to poll: more requests may follow at once.
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay.requestCount() >= 2; }, 10000));
    EXPECT_EQ(request(1).first, "/v1/auth/phone/verify");
    EXPECT_EQ(request(1).second.value("phone").toString(), QStringLiteral("13800138000"));
    EXPECT_EQ(request(1).second.value("code").toString(), QStringLiteral("654321"));
    settings.reset(); // before the relay goes
    state.reset();
}

// Stand-ins on a PATH of their own write their name and arguments.
TEST_F(DesktopSettingsTest, KeyboardButtonOpensGnomeSettingsOrElseIbusSetup)
{
    QTemporaryDir bin;
    const QString record = bin.filePath(QStringLiteral("started"));
    auto clickAndRead = [&](const QString& program) {
        QFile script(bin.filePath(program));
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho \"%1 $*\" > '%2.tmp' && /bin/mv '%2.tmp' '%2'\n")
                         .arg(program, record).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QTest::mouseClick(settings->keyboardSettingsButton(), Qt::LeftButton);
        QFile file(record);
        EXPECT_TRUE(QTest::qWaitFor([&] { return file.exists(); }, 10000));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        const QString line = QString::fromUtf8(file.readAll()).trimmed();
        file.remove();
        return line;
    };
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8());
    EXPECT_EQ(clickAndRead(QStringLiteral("ibus-setup")), QStringLiteral("ibus-setup"));
    EXPECT_EQ(clickAndRead(QStringLiteral("gnome-control-center")), QStringLiteral("gnome-control-center keyboard"));
    qputenv("PATH", path);
}

} // namespace
} // namespace tellwire
