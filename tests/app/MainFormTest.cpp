#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QStyle>
#include <QTimer>
#include <atomic>

#include "app/GradientProgressBar.h"
#include "platform/ui/StyleManager.h"
#include "tests/app/MainFormFixture.h"

namespace {

struct ControlStates {
  bool salvaInVisible, selectVisible, selectEnabled, buttonsVisible, buttonsEnabled, chiudiVisible;
};

ControlStates statesOf(const TMainFormDownloadSetup& form) {
  return {!form.LabelSalvaIn->isHidden() && !form.EditDestFolder->isHidden(),
          !form.ButtonSelectFolder->isHidden(),
          form.ButtonSelectFolder->isEnabled(),
          !form.ButtonSalva->isHidden() && !form.ButtonSalvaEInstalla->isHidden(),
          form.ButtonSalva->isEnabled() && form.ButtonSalvaEInstalla->isEnabled(),
          !form.ButtonChiudi->isHidden()};
}

void expectCreationState(const TMainFormDownloadSetup& form) {
  const ControlStates states = statesOf(form);
  EXPECT_TRUE(states.salvaInVisible && states.selectVisible && states.selectEnabled && states.buttonsVisible &&
              states.buttonsEnabled && states.chiudiVisible);
  EXPECT_TRUE(form.ButtonChiudi->isEnabled());
  EXPECT_EQ(form.LabelAvanzamento->text(), "Download...");
  EXPECT_EQ(form.DownloadUrl(), "");
  EXPECT_EQ(form.DownloadFileName(), "");
}

// The parts of a multipart body: each part's header block and its value.
std::vector<std::pair<std::string, std::string>> partsOf(const HttpRequest& request) {
  const std::string type = request.Header("Content-Type");
  const std::string delimiter = "--" + type.substr(type.find("boundary=") + 9);
  std::vector<std::pair<std::string, std::string>> parts;
  std::size_t at = request.Body.find(delimiter);
  while (at != std::string::npos) {
    const std::size_t start = at + delimiter.size();
    if (request.Body.compare(start, 2, "--") == 0) break;
    const std::size_t next = request.Body.find("\r\n" + delimiter, start);
    const std::string part = request.Body.substr(start + 2, next - start - 2);
    const std::size_t blank = part.find("\r\n\r\n");
    parts.emplace_back(part.substr(0, blank), part.substr(blank + 4));
    at = next == std::string::npos ? next : next + 2;
  }
  return parts;
}

}  // namespace

TEST_F(MainFormFixture, CreatedWindowHasItsLayoutAndTheDefaultFolder) {
  MakeForm("http://127.0.0.1:9/none");
  expectCreationState(*form);
  const QString folder = root.Path() + "Quarnell/Download/";
  EXPECT_TRUE(QDir(folder).exists());
  EXPECT_EQ(form->PercorsoDest(), folder);
  EXPECT_EQ(form->EditDestFolder->text(), folder);
  EXPECT_EQ(form->windowTitle(), "Quarnell - download");
  EXPECT_EQ(form->size(), QSize(506, 155));
  EXPECT_EQ(form->ButtonSalva->geometry(), QRect(147, 108, 100, 25));
  EXPECT_EQ(form->ButtonSalvaEInstalla->geometry(), QRect(267, 108, 100, 25));
  EXPECT_EQ(form->ButtonChiudi->geometry(), QRect(387, 108, 100, 25));
  EXPECT_EQ(form->ButtonSelectFolder->geometry(), QRect(460, 24, 25, 25));
  EXPECT_EQ(form->EditDestFolder->geometry(), QRect(128, 24, 321, 24));
  EXPECT_EQ(form->cxProgressBar1->geometry(), QRect(128, 72, 361, 17));
  EXPECT_EQ(form->cxImage1->geometry(), QRect(6, 17, 113, 120));
  EXPECT_EQ(form->LabelSalvaIn->text(), "Salva in");
  EXPECT_EQ(form->cxProgressBar1->Max(), 100);
  EXPECT_FALSE(form->cxImage1->pixmap().isNull());
  EXPECT_EQ(form->palette().color(QPalette::Window), QColor(Qt::black));
  EXPECT_EQ(form->palette().color(QPalette::WindowText), QColor(Qt::white));
}

TEST_F(MainFormFixture, QuerySendsTheFourFieldsWithTheirPartHeaders) {
  StartService(R"({"DownloadUrl":"http://127.0.0.1:9/p.zip","DownloadFileName":"p.zip"})");
  for (bool is64 : {true, false}) {
    SCOPED_TRACE(is64);
    environment.Is64Bit = is64;
    environment.Executable = "/somewhere/bin/ombrevia-download";
    MakeForm();
    form->GetUrlDownload(form.get());
    const HttpRequest request = service->Requests().back();
    EXPECT_EQ(request.Method, "POST");
    EXPECT_EQ(request.Target, "/web_download/GetUrlDownload.php");
    EXPECT_EQ(request.Version, "HTTP/1.0");
    EXPECT_EQ(request.Header("Accept"), "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
    EXPECT_EQ(request.Header("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
    const auto parts = partsOf(request);
    const std::string os = is64 ? "64-bit Linux" : "32-bit Linux";
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"action", "Ombrevia"}, {"Sender", "ombrevia-download"}, {"TipoChiave", ""}, {"SistemaOperativo", os}};
    ASSERT_EQ(parts.size(), fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
      EXPECT_EQ(parts[i].first, "Content-Disposition: form-data; name=\"" + fields[i].first +
                                    "\"\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable");
      EXPECT_EQ(parts[i].second, fields[i].second);
    }
    EXPECT_EQ(form->OSPlatform(), QString::fromStdString(os));
    EXPECT_EQ(form->TipoChiave(), "");
  }
}

TEST_F(MainFormFixture, ReplySetsTheControlsByItsOperation) {
  struct Case {
    const char* operation;  // nullptr: no "TipoOperazione" member
    ControlStates states;
    bool downloads;
  };
  const Case cases[] = {
      {nullptr, {true, true, true, true, true, true}, false},
      {"", {true, true, true, true, true, true}, false},
      {"salva", {true, true, false, true, false, true}, true},
      {"installa", {false, false, false, false, false, false}, true},
      {"Salva", {true, true, false, true, false, true}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation ? c.operation : "(absent)");
    std::string reply = R"({"DownloadUrl":"{base}/missing/pkg.zip","DownloadFileName":"pkg.zip")";
    if (c.operation) reply += std::string(R"(,"TipoOperazione":")") + c.operation + "\"";
    StartService(reply + "}");
    boxes.Boxes.clear();
    MakeForm();
    ShowAndRunStart();
    const ControlStates states = statesOf(*form);
    EXPECT_EQ(states.salvaInVisible, c.states.salvaInVisible);
    EXPECT_EQ(states.selectVisible, c.states.selectVisible);
    EXPECT_EQ(states.selectEnabled, c.states.selectEnabled);
    EXPECT_EQ(states.buttonsVisible, c.states.buttonsVisible);
    EXPECT_EQ(states.buttonsEnabled, c.states.buttonsEnabled);
    EXPECT_EQ(states.chiudiVisible, c.states.chiudiVisible);
    EXPECT_EQ(form->LabelAvanzamento->text(), "Download... pkg.zip");
    EXPECT_EQ(form->DownloadFileName(), "pkg.zip");
    EXPECT_EQ(form->DownloadPercorsoNomeFile(), root.Path() + "Quarnell/Download/pkg.zip");
    // A download started by the reply reaches the package server and fails there (404).
    const bool askedForPackage = service->Requests().size() > 1;
    EXPECT_EQ(askedForPackage, c.downloads);
    EXPECT_EQ(boxes.Texts(), c.downloads ? QStringList{"File pkg.zip non trovato!!!"} : QStringList{});
  }
}

TEST_F(MainFormFixture, UnreachableServiceShowsWhatFailedAndKeepsTheCreationState) {
  const int freePort = UnusedLoopbackPort();
  MakeForm(QString("http://127.0.0.1:%1/web_download/GetUrlDownload.php").arg(freePort));
  ShowAndRunStart();
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_EQ(boxes.Boxes[0].Kind, MessageKind::Error);
  EXPECT_EQ(boxes.Boxes[0].Title, "ombrevia-download");
  EXPECT_TRUE(boxes.Boxes[0].Text.startsWith(QString("Request to 127.0.0.1:%1 failed: ").arg(freePort)))
      << boxes.Boxes[0].Text.toStdString();
  expectCreationState(*form);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);  // the busy cursor is gone
}

TEST_F(MainFormFixture, EmptyInvalidAndNonObjectRepliesAreHandled) {
  struct Case {
    std::string reply;
    QStringList boxes;
    QString label;
  };
  const Case cases[] = {
      {"", {"Errore: impossibile connettersi al server."}, "Download..."},
      {"<html>not json</html>", {}, "Download... "},
      {R"(["DownloadUrl","x"])", {"Invalid class typecast"}, "Download..."},
      {std::string(3 * 1024 * 1024, '\xff'), {}, "Download... "},
      {std::string(100000, '{'), {}, "Download... "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply.substr(0, 30));
    StartService(c.reply);
    boxes.Boxes.clear();
    MakeForm();
    ShowAndRunStart();
    EXPECT_EQ(boxes.Texts(), c.boxes);
    EXPECT_EQ(form->LabelAvanzamento->text(), c.label);
    EXPECT_EQ(form->DownloadUrl(), "");
    EXPECT_TRUE(form->ButtonSalva->isEnabled());
  }
}

TEST_F(MainFormFixture, AnOversizedReplyIsRefusedNotSwallowed) {
  StartService(std::string(20 * 1024 * 1024, 'x'));
  MakeForm();
  ShowAndRunStart();
  ASSERT_EQ(boxes.Boxes.size(), 1u);
  EXPECT_TRUE(boxes.Boxes[0].Text.startsWith("The reply is larger than")) << boxes.Boxes[0].Text.toStdString();
}

TEST_F(MainFormFixture, QueryRunsOnceAfterTheWindowHasBeenPainted) {
  std::atomic<int> paintsBeforeQuery{-1};
  std::atomic<int> paints{0};
  struct PaintCounter : QObject {
    std::atomic<int>& count;
    explicit PaintCounter(std::atomic<int>& c) : count(c) {}
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) ++count;
      return false;
    }
  } counter(paints);
  service = std::make_unique<LoopbackHttpServer>([&](const HttpRequest&) {
    if (paintsBeforeQuery < 0) paintsBeforeQuery = paints.load();
    HttpReply reply;
    reply.Body = R"({"DownloadFileName":"p"})";
    return reply;
  });
  MakeForm();
  form->installEventFilter(&counter);
  EXPECT_EQ(service->Requests().size(), 0u);  // nothing is asked before the window shows
  ShowAndRunStart();
  for (int i = 0; i < 20; ++i) application->ProcessMessages();
  EXPECT_EQ(service->Requests().size(), 1u);
  EXPECT_GE(paintsBeforeQuery.load(), 1);
}

TEST_F(MainFormFixture, FolderPickerRules) {
  MakeForm("http://127.0.0.1:9/none");
  const QString typed = root.Path() + "typed";
  QDir().mkpath(typed);

  // Confirmed choice: box and destination follow it; the picker opened at the box's folder.
  form->EditDestFolder->setText(typed);
  picker->Choice = root.Path() + "chosen";
  form->ButtonSelectFolderClick(nullptr);
  EXPECT_EQ(picker->ProposedName, typed);
  EXPECT_EQ(picker->DefaultFolder(), typed);
  EXPECT_EQ(form->EditDestFolder->text(), root.Path() + "chosen");
  EXPECT_EQ(form->PercorsoDest(), root.Path() + "chosen/");

  // Cancel: a typed folder takes effect and the box is left as typed.
  form->EditDestFolder->setText(typed);
  picker->Choice.clear();
  form->ButtonSelectFolderClick(nullptr);
  EXPECT_EQ(form->EditDestFolder->text(), typed);
  EXPECT_EQ(form->PercorsoDest(), typed + "/");

  // A typed folder that does not exist: the picker opens at the default folder.
  form->EditDestFolder->setText(root.Path() + "missing");
  form->ButtonSelectFolderClick(nullptr);
  EXPECT_EQ(picker->ProposedName, root.Path() + "Quarnell/Download/");
  EXPECT_EQ(form->PercorsoDest(), root.Path() + "missing/");

  // The file system's root gets one separator, not two; an emptied box gives a lone one.
  picker->Choice = "/";
  form->ButtonSelectFolderClick(nullptr);
  EXPECT_EQ(form->PercorsoDest(), "/");
  picker->Choice.clear();
  form->EditDestFolder->setText("");
  form->ButtonSelectFolderClick(nullptr);
  EXPECT_EQ(form->PercorsoDest(), "/");
  EXPECT_TRUE(StyleManager::SystemDialogsStyled());  // switched back on after every use
}

TEST_F(MainFormFixture, ChiudiAndTheCloseBoxEndTheApplicationAlike) {
  MakeForm("http://127.0.0.1:9/none");
  form->show();
  form->ButtonChiudi->click();
  EXPECT_TRUE(form->isHidden());
  application->ProcessMessages();
  EXPECT_TRUE(application->Terminated());
}

TEST_F(MainFormFixture, TheWindowOpensCentredOnTheScreen) {
  FakeScreen screen;
  screen.Full = QRect(0, 0, 1920, 1080);
  MakeForm("http://127.0.0.1:9/none");
  EXPECT_EQ(form->geometry().center(), QRect(0, 0, 1920, 1080).center());
  screen.Full = QRect(1280, 0, 1024, 768);  // a second monitor to the right
  MakeForm("http://127.0.0.1:9/none");
  EXPECT_EQ(form->geometry().center(), QRect(1280, 0, 1024, 768).center());
}

// The application's style sheet does not reach the system's folder picker, and is back on
// the window once the picker is closed.
TEST_F(MainFormFixture, TheFolderPickerIsDrawnInTheSystemsOwnLook) {
  StyleManager::Activate(QStringLiteral("Charcoal Dark Slate"));
  const QString sheet = qApp->styleSheet();
  const auto plainAgain = qScopeGuard([] {
    qApp->setStyleSheet(QString());
    QApplication::setPalette(QApplication::style()->standardPalette());
  });
  ASSERT_FALSE(sheet.isEmpty());
  application = std::make_unique<Application>(QStringLiteral("ombrevia-download"));
  form = std::make_unique<TMainFormDownloadSetup>(QStringLiteral("http://127.0.0.1:9/none"));
  application->SetMainForm(form.get());
  QString sheetWhilePickerUp = QStringLiteral("(picker never shown)");
  QColor pickerWindowColour;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QFileDialog*>(window);
      if (!dialog || !dialog->isVisible()) continue;
      sheetWhilePickerUp = qApp->styleSheet();
      pickerWindowColour = dialog->palette().color(QPalette::Window);
      dialog->reject();
    }
  });
  watch.start(10);
  // From a running loop of its own: after an earlier test ended the application, a nested
  // loop (the picker's) would return at once until the next one starts.
  QTimer::singleShot(0, [&] {
    form->ButtonSelectFolderClick(nullptr);
    QCoreApplication::quit();
  });
  QCoreApplication::exec();
  watch.stop();
  EXPECT_EQ(sheetWhilePickerUp, QString());
  EXPECT_EQ(pickerWindowColour, QApplication::style()->standardPalette().color(QPalette::Window));
  EXPECT_EQ(qApp->styleSheet(), sheet);
}
