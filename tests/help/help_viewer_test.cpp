#include "help/desktop_help_engine.h"
#include "help/guide_window.h"
#include <QTextBrowser>
#include "help/help_viewer.h"
#include "tests/support/qt/fake_services.h"
#include "tests/support/qt/qt_printers.h"
#include "tests/support/temp_dir.h"

#include <QCoreApplication>
#include <QWidget>
#include <QFileInfo>
#include <QRegularExpression>
#include <QFile>
#include <QDir>

#include <filesystem>

#include <gtest/gtest.h>

namespace {

struct EngineCall {
    QWidget* owner;
    QString file;
    int command;
    QVariant data;
};

class RecordingEngine : public HtmlHelpEngine {
public:
    explicit RecordingEngine(std::vector<EngineCall>* calls) : calls_(calls) {}
    void HtmlHelp(QWidget* owner, const QString& file, int command, const QVariant& data) override {
        calls_->push_back({owner, file, command, data});
    }

private:
    std::vector<EngineCall>* calls_;
};

class HelpViewerTest : public ::testing::Test {
protected:
    HelpViewerTest() : viewer(std::make_unique<RecordingEngine>(&calls)) {
        manager.SetHelpFile(QStringLiteral("/opt/postira/postira.chm"));
        viewer.Register(manager);
    }
    std::vector<EngineCall> calls;
    HelpManager manager;
    TVelHtmlHelpViewer viewer;
};

TEST(IsChmFile, ExtensionRules) {
    EXPECT_TRUE(IsChmFile("/x/POSTIRA.CHM"));
    EXPECT_TRUE(IsChmFile("hilfe.chm"));
    EXPECT_FALSE(IsChmFile("hilfe.chm.bak"));
    EXPECT_FALSE(IsChmFile("postira"));
    EXPECT_FALSE(IsChmFile("guide.html"));
}

TEST_F(HelpViewerTest, RequestsBecomeEngineCommands) {
    QWidget owner;
    manager.SetHandle(&owner);
    EXPECT_TRUE(manager.ShowTableOfContents());
    EXPECT_TRUE(manager.ContextHelp(100));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].command, HH_DISPLAY_TOC);
    EXPECT_EQ(calls[0].file, "/opt/postira/postira.chm");
    EXPECT_EQ(calls[0].owner, &owner);
    EXPECT_EQ(calls[1].command, HH_HELP_CONTEXT);
    EXPECT_EQ(calls[1].data.toInt(), 100);

    viewer.SoftShutDown();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].command, HH_CLOSE_ALL);
    EXPECT_EQ(calls[2].owner, nullptr);
    EXPECT_TRUE(calls[2].file.isEmpty());
    viewer.DoHtmlHelp("x.chm", HH_GET_LAST_ERROR, 0);
    EXPECT_EQ(calls.size(), 3u);
}

TEST_F(HelpViewerTest, TopicsGetTheDefaultExtension) {
    viewer.DisplayTopic("intro");
    viewer.DisplayTopic("seite.html");
    viewer.DisplayTopic("SEITE.HTM");
    viewer.DisplayTopic("daten.txt");
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].file, "/opt/postira/postira.chm::/intro.htm");
    EXPECT_EQ(calls[0].command, HH_DISPLAY_TOPIC);
    EXPECT_EQ(calls[1].file, "/opt/postira/postira.chm::/seite.html");
    EXPECT_EQ(calls[2].file, "/opt/postira/postira.chm::/SEITE.HTM");
    EXPECT_EQ(calls[3].file, "/opt/postira/postira.chm::/daten.txt.htm");
}

TEST_F(HelpViewerTest, KeywordsAndSelection) {
    viewer.ShowHelp("VelHtmlHelp:  Empfänger ");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].command, HH_DISPLAY_INDEX);
    EXPECT_EQ(calls[0].data.toString(), "Empfänger");
    EXPECT_EQ(viewer.GetHelpStrings("Liste"), QStringList{"VelHtmlHelp: Liste"});

    EXPECT_EQ(viewer.SelectKeyword({"Andere: x", "VelHtmlHelp: y"}), 1);
    EXPECT_EQ(viewer.SelectKeyword({"VelHtmlHelp: y"}), 0);
    EXPECT_EQ(viewer.SelectKeyword({"a", "b"}), 0);
    EXPECT_EQ(viewer.SelectKeyword({"x", "VelHtmlHelp"}), 1);
    EXPECT_EQ(viewer.SelectKeyword({"x", "velhtmlhelp: y"}), 0) << "the name must match exactly";
    EXPECT_EQ(viewer.TableOfContents({"Andere", "velhtmlhelp"}), 1);
    EXPECT_EQ(viewer.TableOfContents({"Andere"}), -1);
}

TEST_F(HelpViewerTest, NonChmFileIsDeclinedAndIgnored) {
    manager.SetHelpFile("/opt/postira/hilfe.txt");
    EXPECT_EQ(viewer.UnderstandsKeyword("x"), 0);
    EXPECT_FALSE(viewer.UnderstandsTopic("x"));
    EXPECT_FALSE(manager.ContextHelp(100));
    viewer.ShowTableOfContents();
    viewer.DisplayHelpByContext(100, "a.chm");
    EXPECT_TRUE(calls.empty());
    // Context questions look at the file name they are given.
    EXPECT_TRUE(viewer.UnderstandsContext(100, "a.CHM"));
}

TEST_F(HelpViewerTest, BareFileNameIsTakenFromTheProgramFolder) {
    manager.SetHelpFile("postira.chm");
    EXPECT_EQ(viewer.GetHelpFile(), QCoreApplication::applicationDirPath() + "/postira.chm");
}

TEST_F(HelpViewerTest, UnregisterGivesBackTheNumber) {
    EXPECT_EQ(manager.ViewerCount(), 1u);
    EXPECT_GT(viewer.ViewerId(), 0);
    viewer.Unregister();
    EXPECT_EQ(manager.ViewerCount(), 0u);
    EXPECT_FALSE(viewer.HasManager());
    EXPECT_FALSE(manager.ShowTableOfContents());
}

TEST(HelpViewer, WithoutEngineNothingHappens) {
    HelpManager manager;
    manager.SetHelpFile("/x/postira.chm");
    TVelHtmlHelpViewer viewer(nullptr);
    viewer.Register(manager);
    EXPECT_TRUE(manager.ShowTableOfContents());  // taken, and silently nothing shown
}

TEST(WinHelpTester, DeclinesEverything) {
    TVelWinHelpTester tester;
    EXPECT_FALSE(tester.CanShowALink("a", "b"));
    EXPECT_FALSE(tester.CanShowTopic("a", "b"));
    EXPECT_FALSE(tester.CanShowContext(100, "b"));
    EXPECT_EQ(tester.GetHelpStrings("link"), QStringList{": link"});
    EXPECT_TRUE(tester.GetHelpPath().isEmpty());
    EXPECT_TRUE(tester.GetDefaultHelpFile().isEmpty());
}

class DesktopEngineTest : public ::testing::Test {
protected:
    QString Guide() const { return QString::fromStdString(temp.Path() + "/help"); }
    TempDir temp;
    FakeServices fakes;
};

TEST_F(DesktopEngineTest, OpensTheChmFileWhenItExists) {
    temp.Write("postira.chm", "ITSF");
    DesktopHelpEngine engine(Guide());
    engine.HtmlHelp(nullptr, QString::fromStdString(temp.File("postira.chm")), HH_DISPLAY_TOC, 0);
    ASSERT_EQ(fakes.launcher.opened.size(), 1u);
    EXPECT_EQ(fakes.launcher.opened[0].toLocalFile().toStdString(), temp.File("postira.chm"));
}

TEST_F(DesktopEngineTest, FallsBackToTheGuidePages) {
    std::filesystem::create_directory(temp.Path() + "/help");
    temp.Write("help/index.html", "<html>");
    temp.Write("help/empfaengerliste.html", "<html>");
    DesktopHelpEngine engine(Guide());
    const QString chm = QString::fromStdString(temp.File("postira.chm"));  // not there
    engine.HtmlHelp(nullptr, chm, HH_DISPLAY_TOC, 0);
    engine.HtmlHelp(nullptr, chm, HH_HELP_CONTEXT, 100);
    engine.HtmlHelp(nullptr, chm, HH_HELP_CONTEXT, 7);
    engine.HtmlHelp(nullptr, chm + "::/empfaengerliste.html", HH_DISPLAY_TOPIC, 0);
    engine.HtmlHelp(nullptr, {}, HH_CLOSE_ALL, 0);
    ASSERT_EQ(fakes.launcher.opened.size(), 4u);
    EXPECT_TRUE(fakes.launcher.opened[0].toLocalFile().endsWith("/help/index.html"));
    EXPECT_TRUE(fakes.launcher.opened[1].toLocalFile().endsWith("/help/empfaengerliste.html"));
    EXPECT_TRUE(fakes.launcher.opened[2].toLocalFile().endsWith("/help/index.html"));
    EXPECT_TRUE(fakes.launcher.opened[3].toLocalFile().endsWith("/help/empfaengerliste.html"));
    EXPECT_TRUE(fakes.messages.shown.empty());
}

TEST_F(DesktopEngineTest, TellsTheUserWhenThereIsNoHelp) {
    DesktopHelpEngine engine(Guide());
    engine.HtmlHelp(nullptr, QString::fromStdString(temp.File("postira.chm")), HH_DISPLAY_TOC, 0);
    EXPECT_TRUE(fakes.launcher.opened.empty());
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].kind, "Warnung");
    EXPECT_TRUE(fakes.messages.shown[0].text.endsWith("Gesucht wurde die Anleitung in \"" + Guide() + "\".")) 
        << fakes.messages.shown[0].text.toStdString();

    // The guide is there but no browser starts: it opens in the program's own window, at the page asked for.
    std::filesystem::create_directory(temp.Path() + "/help");
    temp.Write("help/index.html", "<html><body><h1>Inhalt</h1></body></html>");
    temp.Write("help/empfaengerliste.html", "<html><body><h1>Liste</h1></body></html>");
    fakes.launcher.openSucceeds = false;
    engine.HtmlHelp(nullptr, {}, HH_HELP_CONTEXT, 100);
    EXPECT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_TRUE(GuideWindow(nullptr).isVisible());
    EXPECT_EQ(GuideWindow(nullptr).Browser->toPlainText(), "Liste");
    GuideWindow(nullptr).close();
}

TEST(HelpGuide, ShipsBesideTheProgramInTheBuildWithEveryLinkLeadingSomewhere) {
    // The build copies the guide next to the program; the pages the engine opens must be there.
    const QString folder = QStringLiteral(POSTIRA_TEST_BUILD_DIR "/app/help/");
    EXPECT_TRUE(QFileInfo(folder + "index.html").isFile());
    EXPECT_TRUE(QFileInfo(folder + "empfaengerliste.html").isFile());
    // Every link between the pages names a page of the guide and, after "#", a heading of that page.
    const QRegularExpression link(QStringLiteral("href=\"([^\"#]*)(#([^\"]*))?\""));
    for (const QFileInfo& page : QDir(folder).entryInfoList({"*.html"})) {
        QFile file(page.filePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        for (auto match = link.globalMatch(text); match.hasNext();) {
            const QRegularExpressionMatch found = match.next();
            const QString target = found.captured(1).isEmpty() ? page.fileName() : found.captured(1);
            SCOPED_TRACE(page.fileName().toStdString() + " -> " + found.captured(0).toStdString());
            QFile linked(folder + target);
            ASSERT_TRUE(linked.open(QIODevice::ReadOnly));
            if (!found.captured(3).isEmpty()) {
                EXPECT_TRUE(QString::fromUtf8(linked.readAll()).contains("id=\"" + found.captured(3) + "\""));
            }
        }
    }
}

}  // namespace

namespace {

TEST(HelpGuide, FoundBesideTheProgramOrInTheInstalledDataFolder) {
    TempDir tree;
    std::filesystem::create_directories(tree.Path() + "/bin/help");
    const QString bin = QString::fromStdString(tree.Path() + "/bin");
    EXPECT_EQ(GuideFolderFor(bin), QString::fromStdString(tree.Path() + "/share/postira/help"));
    tree.Write("bin/help/index.html", "<html>");
    EXPECT_EQ(GuideFolderFor(bin), bin + "/help");
}

}  // namespace
