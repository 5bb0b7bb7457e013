// The check's rules that no real index provokes on demand: an index that
// still lists an earlier run's files, a route whose search fails, a find
// that was not expected, and how a miss is named from what was stored. The
// backend here is scripted; the samples and expectations are the real ones.
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include "app/check/check.h"
#include "app/check/diagnose.h"
#include "app/check/expectations.h"
#include "app/check/check_folder.h"
#include "app/check/report.h"
#include "app/check/suite.h"

#include <sys/xattr.h>

using namespace findlark::check;

namespace {

class ScriptedBackend : public Backend {
 public:
  std::function<SearchResult(int route, const QString& folder)> onSearch;
  // When set, answers instead of onSearch, seeing the word searched for.
  std::function<SearchResult(int route, const QString& term, const QString& folder)> onSearchWord;
  std::function<Stored(const QString& path)> onStored = [](const QString&) { return Stored{}; };
  bool text = false;
  Finding fileFinding, wordFinding;
  Remedy routeCure;

  QString name() const override { return "scripted"; }
  QList<Route> routes() const override {
    return {{"query", "query", Expects::Query, "the query"}, {"cli", "cli", Expects::Command, "cli"}};
  }
  bool recognisesText() const override { return text; }
  bool installed() const override { return true; }
  Availability availability() override { return {true, Reason::None, {}, {}}; }
  Coverage coverage(const QString&) override { return {true, Reason::None, {}, {}, {}}; }
  SearchResult search(int route, const QString& term, const QString& folder) override {
    return onSearchWord ? onSearchWord(route, term, folder) : onSearch(route, folder);
  }
  Stored stored(const QString& path, const QString&) override { return onStored(path); }
  Finding fileFacts(const QString&, const QString&) override { return fileFinding; }
  Finding wordFacts(const QString&) override { return wordFinding; }
  Remedy routeRemedy(int, const QString&, const QString&, const QString&) override { return routeCure; }
};

// Every sample file that exists in `folder`, with `attribute`.
SearchResult existing(const QString& folder, const QString& attribute, const QStringList& only = {}) {
  SearchResult r{true, {}, {}};
  for (const QString& name : QDir(folder).entryList(QDir::Files))
    if (only.isEmpty() || only.contains(name)) r.hits.append({folder + "/" + name, attribute});
  return r;
}

const SampleResult& sample(const CheckResult& r, const QString& file) {
  for (const SampleResult& s : r.indexes[0].samples)
    if (s.file == file) return s;
  static SampleResult none;
  return none;
}

}  // namespace

class CheckEngineTest : public QObject {
  Q_OBJECT
  QTemporaryDir home_{"/var/tmp/findlark-checkengine-XXXXXX"};

  CheckResult runWith(ScriptedBackend& b, int timeout = 60) {
    CheckOptions options;
    options.timeoutSeconds = timeout;
    return Check(options).run({&b});
  }
  QString folder() const { return home_.path() + "/0_FindlarkCheck"; }

 private slots:
  void initTestCase() {
    qputenv("HOME", QFile::encodeName(home_.path()));
    qputenv("FINDLARK_SHARE_DIR", FINDLARK_SHARE_DIR);
  }

  void theExpectationsFileIsReadStrictly() {
    const auto real = readExpectations();
    QVERIFY(real);
    QCOMPARE(real->size(), 13);
    int ocr = 0;
    for (const SampleExpectation& e : *real) {
      ocr += e.ocr ? 1 : 0;
      if (e.ocr) QVERIFY(!e.expectedFrom(Expects::Query, false) && e.expectedFrom(Expects::Query, true));
    }
    QCOMPARE(ocr, 1);
    QString error;
    QVERIFY(!parseExpectations("file\tlocation\tcontent\n", &error));
    QCOMPARE(error, QStringLiteral("expectations.tsv line 1: no column \"keywords\""));
    QVERIFY(!parseExpectations("# c\nfile\tlocation\tcontent\tkeywords\texif\tocr\tmdfind\nA.txt\tx\tyes\tmaybe\tno\tno\tyes\n",
                               &error));
    QCOMPARE(error, QStringLiteral("expectations.tsv line 3: \"maybe\" is neither yes nor no"));
  }

  void anEarlierRunsFilesAreNeverTakenForTheNewOnes() {
    // The index lists old entries under the folder for its first searches,
    // then only what is on disk.
    ScriptedBackend b;
    int staleLeft = 4;
    b.onSearch = [&](int, const QString& f) {
      if (staleLeft > 0) {
        --staleLeft;
        SearchResult stale{true, {}, {}};
        for (const char* name : {"FindlarkA.txt", "FindlarkB.rtf"}) stale.hits.append({f + "/" + name, "stale"});
        return stale;
      }
      return existing(f, "fresh", {"FindlarkA.txt", "FindlarkB.rtf"});
    };
    const CheckResult r = runWith(b, 1);
    QVERIFY(r.warnings.isEmpty());
    for (const char* name : {"FindlarkA.txt", "FindlarkB.rtf"})
      for (const RouteResult& c : sample(r, name).routes) {
        QVERIFY(c.found);
        QCOMPARE(c.attribute, QStringLiteral("fresh"));
      }
    QVERIFY(!QFileInfo::exists(folder()));
  }

  void aFailingRouteAnUnexpectedFindAndEachMissAreNamed() {
    ScriptedBackend b;
    // The query route finds A and the picture that holds the term only as
    // pixels; the other route fails every time.
    b.onSearch = [&](int route, const QString& f) {
      if (route == 1) return SearchResult{false, "cli crashed", {}};
      return existing(f, "kMDItemTextContent", {"FindlarkA.txt", "FindlarkI.png"});
    };
    b.onStored = [](const QString& path) {
      Stored s;
      s.inIndex = !path.endsWith("FindlarkC.pdf");
      if (path.endsWith("FindlarkB.rtf")) s.termAttribute = "kMDItemTitle";
      if (path.endsWith("FindlarkC.pdf")) s.reason = Reason::StillQueued;
      if (path.endsWith("FindlarkD.html")) s.attributes = QStringList{"kMDItemFSName = \"FindlarkD.html\""};
      return s;
    };
    const CheckResult r = runWith(b, 1);
    QCOMPARE(r.exitStatus(), 1);
    const RouteResult i = sample(r, "FindlarkI.png").routes[0];
    QVERIFY(i.found && !i.expected && !i.missed());
    QCOMPARE(i.reason, Reason::Unexpected);
    QCOMPARE(sample(r, "FindlarkI.png").routes[1].reason, Reason::NeedsTextRecognition);
    QCOMPARE(sample(r, "FindlarkA.txt").routes[1].reason, Reason::RouteFailed);
    QCOMPARE(sample(r, "FindlarkA.txt").routes[1].detail, QStringLiteral("cli crashed"));
    QCOMPARE(sample(r, "FindlarkB.rtf").routes[0].reason, Reason::NotFoundByRoute);
    QCOMPARE(sample(r, "FindlarkB.rtf").routes[0].attribute, QStringLiteral("kMDItemTitle"));
    QCOMPARE(sample(r, "FindlarkC.pdf").routes[0].reason, Reason::StillQueued);
    QCOMPARE(sample(r, "FindlarkD.html").routes[0].reason, Reason::TermNotStored);
    QCOMPARE(sample(r, "FindlarkD.html").routes[0].stored, QStringList{"kMDItemFSName = \"FindlarkD.html\""});
    QCOMPARE(r.indexes[0].foundCount(0), 1);
    QCOMPARE(r.indexes[0].expectedCount(0), 12);

    // With text recognition the picture is expected, and found.
    b.text = true;
    const CheckResult withText = runWith(b, 1);
    QVERIFY(sample(withText, "FindlarkI.png").routes[0].expected);
    QCOMPARE(sample(withText, "FindlarkI.png").routes[0].reason, Reason::None);
  }

  void anIndexThatAnswersWithEverythingPassesAndCancelStopsTheWait() {
    ScriptedBackend b;
    b.onSearch = [&](int, const QString& f) {
      return existing(f, QString());
    };
    // Found everywhere: FindlarkI is found though unexpected, which is no miss.
    QCOMPARE(runWith(b).exitStatus(), 0);

    std::atomic<bool> cancel{false};
    b.onSearch = [&](int, const QString&) {
      if (QFileInfo::exists(folder())) cancel = true;
      return SearchResult{true, {}, {}};
    };
    CheckOptions options;  // the default 60 s deadline: only the cancel ends it
    const CheckResult r = Check(options).run({&b}, {}, &cancel);
    QVERIFY(r.cancelled);
    QCOMPARE(sample(r, "FindlarkA.txt").routes[0].detail, QStringLiteral("the check was cancelled"));
    QVERIFY(!QFileInfo::exists(folder()));
  }

  // The chain stops at its first broken link, whatever the later links say.
  void aMissIsExplainedByTheFirstBrokenLinkOfTheChain() {
    ScriptedBackend b;
    const QString path = QStringLiteral("/x/a.txt");
    Stored inText;
    inText.inIndex = true;
    inText.termAttribute = QStringLiteral("text");
    b.wordFinding = {Reason::StopWord, QStringLiteral("a stop word"), noRemedy(QStringLiteral("keep stop words"))};
    b.routeCure = queryRemedy({QStringLiteral("find"), QStringLiteral("it")});
    // Stored with the word: the word's own facts come before the route.
    QCOMPARE(explainMiss(b, 1, path, "the", inText).reason, Reason::StopWord);
    b.wordFinding = {};
    const Finding byRoute = explainMiss(b, 1, path, "herd", inText);
    QCOMPARE(byRoute.reason, Reason::NotFoundByRoute);
    QCOMPARE(byRoute.remedy.text, QStringLiteral("find it"));

    // Kept by name only: the type's link outranks "not stored".
    Stored byName;
    byName.inIndex = true;
    b.fileFinding = {Reason::NoExtractor, QStringLiteral("no rule"), noRemedy(QStringLiteral("none"))};
    QCOMPARE(explainMiss(b, 0, path, "herd", byName).reason, Reason::NoExtractor);
    b.fileFinding = {};
    QCOMPARE(explainMiss(b, 0, path, "herd", byName).reason, Reason::TermNotStored);

    // Not in the index: a folder the index leaves out comes first; then the
    // file's own facts; then what the index says of it.
    Stored absent;
    absent.reason = Reason::FolderExcluded;
    b.fileFinding = {Reason::Hidden, QStringLiteral("hidden"), {}};
    QCOMPARE(explainMiss(b, 0, path, "herd", absent).reason, Reason::FolderExcluded);
    absent.reason = Reason::StillQueued;
    QCOMPARE(explainMiss(b, 0, path, "herd", absent).reason, Reason::Hidden);
    b.fileFinding = {};
    QCOMPARE(explainMiss(b, 0, path, "herd", absent).reason, Reason::StillQueued);
    absent.reason = Reason::None;
    QCOMPARE(explainMiss(b, 0, path, "herd", absent).reason, Reason::NotIndexed);
  }

  // A suite is made from its tables alone: subfolders, attributes and the
  // file grown at check time; an earlier run's folder is cleared only when
  // it holds nothing else.
  void aSuiteIsMadeFromItsTablesAlone() {
    QString error;
    const auto probes = loadSuite("probes", &error);
    QVERIFY2(probes, qPrintable(error));
    QVERIFY(probes->files.size() >= 50);
    QSet<QString> words;
    for (const SampleExpectation& e : probes->files) words.insert(e.term.toLower());
    QCOMPARE(words.size(), probes->files.size());  // a word of its own each
    QVERIFY(!loadSuite("spotlight", &error));
    QCOMPARE(error, QStringLiteral("no suite called \"spotlight\""));

    const QString made = home_.path() + "/made";
    const SuiteMade m = makeSuiteFolder(made, *probes);
    QVERIFY2(m.ok, qPrintable(m.error));
    QVERIFY(m.warnings.isEmpty());
    QVERIFY(QFileInfo(made + "/dotterel/notes.txt").isFile());
    char value[64] = {};
    const ssize_t n = ::getxattr(QFile::encodeName(made + "/xdg-tags.txt").constData(), "user.xdg.tags", value, sizeof value);
    QCOMPARE(QByteArray(value, int(std::max<ssize_t>(n, 0))), QByteArray("hawfinch"));
    // Grown: the first line again and again, then the installed file whole.
    QFile log(made + "/end-of-30-mb.log"), installed(probes->folder + "/end-of-30-mb.log");
    QVERIFY(log.open(QIODevice::ReadOnly) && installed.open(QIODevice::ReadOnly));
    const QByteArray tail = installed.readAll();
    QVERIFY(log.size() >= 30 * 1024 * 1024 && log.size() < 30 * 1024 * 1024 + 2 * tail.size());
    const QByteArray head = log.read(4096);
    QVERIFY(head.startsWith(tail.left(tail.indexOf('\n') + 1) + tail.left(tail.indexOf('\n') + 1)));
    log.seek(log.size() - tail.size());
    QCOMPARE(log.readAll(), tail);
    // Never over an existing file.
    QVERIFY(!makeSuiteFolder(made, *probes).ok);

    QFile stray(made + "/dotterel/stray.txt");
    QVERIFY(stray.open(QIODevice::WriteOnly));
    stray.close();
    const FolderOutcome refused = clearCheckFolder(made, suiteEntries(*probes));
    QVERIFY(!refused.ok);
    QVERIFY2(refused.message.contains("\"dotterel/stray.txt\""), qPrintable(refused.message));
    QVERIFY(QFileInfo::exists(made + "/word-body.docx"));
    stray.remove();
    QVERIFY(clearCheckFolder(made, suiteEntries(*probes)).ok);
    QVERIFY(!QFileInfo::exists(made));

    QVERIFY(!parseSteps("file\tstep\tname\tvalue\nx.txt\tchmod\t\t1\n", &error));
    QCOMPARE(error, QStringLiteral("steps.tsv line 2: unknown step \"chmod\""));
    QVERIFY(!parseSteps("file\tstep\tname\tvalue\nx.log\tgrow\t\t30MB\n", &error));
    QVERIFY(!parseExpectations("file\tlocation\tterm\tcontent\tkeywords\texif\tocr\tmdfind\n"
                               "../x.txt\tx\tword\tyes\tno\tno\tno\tyes\n", &error));
    QCOMPARE(error, QStringLiteral("expectations.tsv line 2: no file name"));
  }

  // Each probe is searched for its own word: a hit for another word does
  // not count, and the coverage table shows a row per probe with totals.
  void eachFileIsFoundOnlyByItsOwnWord() {
    ScriptedBackend b;
    const QList<SampleExpectation> files = loadSuite("probes")->files;
    b.onSearchWord = [&](int, const QString& term, const QString& f) {
      SearchResult r{true, {}, {}};
      // Every file answers every word but one, which nothing answers;
      // "gossamer" answers with the Markdown probe, whose word is another.
      if (term == "foxglove") return r;
      if (term == "gossamer") {
        if (QFileInfo::exists(f + "/markdown.md")) r.hits.append({f + "/markdown.md", "text"});
        return r;
      }
      for (const SampleExpectation& e : files)
        if (QFileInfo::exists(f + "/" + e.file)) r.hits.append({f + "/" + e.file, "text"});
      return r;
    };
    b.onStored = [](const QString&) {
      Stored s;
      s.inIndex = s.settled = true;
      return s;
    };
    CheckOptions options;
    options.suite = "probes";
    options.timeoutSeconds = 5;
    const CheckResult r = Check(options).run({&b});
    QCOMPARE(r.suite, QStringLiteral("probes"));
    QVERIFY(!sample(r, "opendocument-text.odt").routes[0].found);
    QVERIFY(!sample(r, "markdown.md").routes[0].found);
    QCOMPARE(sample(r, "markdown.md").routes[0].reason, Reason::TermNotStored);
    QCOMPARE(sample(r, "markdown.md").term, QStringLiteral("foxglove"));
    QVERIFY(sample(r, "word-body.docx").routes[0].found);
    QVERIFY(sample(r, "dotterel/notes.txt").routes[1].found);  // not expected, seen by the last look
    QCOMPARE(sample(r, "dotterel/notes.txt").routes[1].reason, Reason::Unexpected);

    const QString md = formatMarkdown(r);
    QVERIFY2(md.startsWith("| file | where | word | scripted query | scripted cli |\n|---|---|---|---|---|\n"),
             qPrintable(md));
    QVERIFY(md.contains("| `markdown.md` | Markdown list item, bold | foxglove | term not stored | term not stored |\n"));
    QVERIFY(md.contains("| `word-body.docx` | Word body text | marmoset | ✓ | ✓ |\n"));
    QVERIFY(md.contains("| `dotterel/notes.txt` | the parent folder's name only | dotterel | ✓ (not expected) | ✓ (not expected) |\n"));
    QVERIFY(md.contains("| `latex.tex` | LaTeX source, \\emph | nightjar |"));
    const IndexResult& i = r.indexes[0];
    QVERIFY(md.contains(QStringLiteral("| **found of expected** |  |  | **%1 of %2** | **%3 of %4** |\n")
                            .arg(i.foundCount(0)).arg(i.expectedCount(0)).arg(i.foundCount(1)).arg(i.expectedCount(1))));
    QCOMPARE(i.expectedCount(0) - i.foundCount(0), 2);
    QVERIFY(md.contains("\n- scripted: "));
  }

  void remediesReadAsTypedAndConfigLinesLandAtTheTopLevel() {
    QCOMPARE(shellQuoted({"gsettings", "set", "s", "k", "['*.txt', 'a b']"}),
             QStringLiteral("gsettings set s k '['\\''*.txt'\\'', '\\''a b'\\'']'"));
    QTemporaryDir dir;
    const QString conf = dir.filePath("recoll.conf");
    QFile f(conf);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("loglevel = 2\n[/some/dir]\nskippedNames = x\n");
    f.close();
    QVERIFY(applyRemedy(configRemedy("topdirs = ~/Documents ~/Notes", conf, true)).ok);
    QVERIFY(applyRemedy(configRemedy("[xattrtofields]\nk = keywords", conf, true)).ok);
    // Applied twice, written once.
    QVERIFY(applyRemedy(configRemedy("topdirs = ~/Documents ~/Notes", conf, true)).ok);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(f.readAll()),
             QStringLiteral("loglevel = 2\ntopdirs = ~/Documents ~/Notes\n[/some/dir]\nskippedNames = x\n"
                            "[xattrtofields]\nk = keywords\n"));
    // Never what is not marked appliable.
    QVERIFY(!applyRemedy(commandRemedy({"apt", "install", "x"}, false)).ok);
  }
};

QTEST_MAIN(CheckEngineTest)
#include "check_engine_test.moc"
