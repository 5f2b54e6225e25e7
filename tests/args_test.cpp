// SPDX-License-Identifier: MIT
// The option collectors and the stream binders: what they leave in the
// argument vector and the map, what they return, what they say on standard
// error and which files they create.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "lib/functions.h"
#include "test_util.h"

namespace {

// A mutable argument vector as the process entry receives it: pointers to
// separately owned strings, ended by a null pointer.
class Argv {
 public:
  explicit Argv(std::vector<std::string> words) : words_(std::move(words)) {
    for (std::string& w : words_) ptrs_.push_back(w.data());
    ptrs_.push_back(nullptr);
  }
  Argv(const Argv&) = delete;
  Argv& operator=(const Argv&) = delete;

  char** get() { return ptrs_.data(); }

  // The words up to the terminating null, as the caller would walk them.
  std::vector<std::string> remaining() const {
    std::vector<std::string> out;
    for (size_t i = 0; i < ptrs_.size() && ptrs_[i] != nullptr; ++i) out.push_back(ptrs_[i]);
    return out;
  }

  // The collectors move pointers only; the texts themselves stay as given.
  bool textsUnchanged(const std::vector<std::string>& original) const { return words_ == original; }

 private:
  std::vector<std::string> words_;
  std::vector<char*> ptrs_;
};

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// ---------------------------------------------------------------------------
// Collectors
// ---------------------------------------------------------------------------

struct CollectCase {
  const char* name;
  std::vector<std::string> words;
  int argc;
  std::vector<const char*> names;  // passed after argc; at most three
  ARGMAP before;
  std::vector<std::string> after;
  ARGMAP map;
  int result;
  std::string err;
};

std::ostream& operator<<(std::ostream& os, const CollectCase& c) { return os << c.name; }

std::string caseName(const testing::TestParamInfo<CollectCase>& info) { return info.param.name; }

const char* nameAt(const CollectCase& c, size_t i) {
  return i < c.names.size() ? c.names[i] : nullptr;
}

class GetOptionsTest : public testing::TestWithParam<CollectCase> {};
class GetFlagsTest : public testing::TestWithParam<CollectCase> {};

TEST_P(GetOptionsTest, CollectsAndRemoves) {
  const CollectCase& c = GetParam();
  Argv argv(c.words);
  ARGMAP map = c.before;
  testutil::StderrCapture err;
  int result = getoptions(argv.get(), map, c.argc, nameAt(c, 0), nameAt(c, 1), nameAt(c, 2));
  EXPECT_EQ(err.text(), c.err);
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(argv.remaining(), c.after);
  EXPECT_EQ(map, c.map);
  EXPECT_TRUE(argv.textsUnchanged(c.words));
}

TEST_P(GetFlagsTest, CollectsAndRemoves) {
  const CollectCase& c = GetParam();
  Argv argv(c.words);
  ARGMAP map = c.before;
  testutil::StderrCapture err;
  int result = getflags(argv.get(), map, c.argc, nameAt(c, 0), nameAt(c, 1), nameAt(c, 2));
  EXPECT_EQ(err.text(), c.err);
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(argv.remaining(), c.after);
  EXPECT_EQ(map, c.map);
  EXPECT_TRUE(argv.textsUnchanged(c.words));
}

// One case per row, aligned by hand: kept out of the formatter.
// clang-format off
const CollectCase kOptionCases[] = {
    {"SpacedValueAmongOthers", {"prog", "-n", "60", "-uc", "in.ig", "out.fa"}, 1, {"-n"}, {},
     {"prog", "-uc", "in.ig", "out.fa"}, {{"-n", "60"}}, 1, ""},
    {"GluedValue", {"prog", "-n5", "in.ig"}, 1, {"-n"}, {}, {"prog", "in.ig"}, {{"-n", "5"}}, 1, ""},
    {"GluedEqualsSignIsPartOfValue", {"prog", "-n=5"}, 1, {"-n"}, {}, {"prog"}, {{"-n", "=5"}}, 1,
     ""},
    {"GluedLetters", {"prog", "-nx"}, 1, {"-n"}, {}, {"prog"}, {{"-n", "x"}}, 1, ""},
    {"ValueMayBeginWithDash", {"prog", "-n", "-uc"}, 1, {"-n"}, {}, {"prog"}, {{"-n", "-uc"}}, 1,
     ""},
    {"ValueMayBeEmpty", {"prog", "-n", "", "in.ig"}, 1, {"-n"}, {}, {"prog", "in.ig"},
     {{"-n", ""}}, 1, ""},
    {"ValueMayBeTheNameItself", {"prog", "-n", "-n", "x"}, 1, {"-n"}, {}, {"prog", "x"},
     {{"-n", "-n"}}, 1, ""},
    {"EveryOccurrenceTakenLastWins", {"prog", "-n", "5", "a", "-n6", "b", "-n", "7"}, 1, {"-n"},
     {}, {"prog", "a", "b"}, {{"-n", "7"}}, 1, ""},
    {"TwoSpacedOccurrences", {"prog", "-n", "5", "-n", "6"}, 1, {"-n"}, {}, {"prog"},
     {{"-n", "6"}}, 1, ""},
    {"MissingValue", {"prog", "in.ig", "-n"}, 1, {"-n"}, {}, {"prog", "in.ig", "-n"}, {}, -1,
     "Bad argument to -n option\n"},
    {"MissingValueKeepsEarlierOccurrence", {"prog", "-n", "5", "x", "-n"}, 1, {"-n"}, {},
     {"prog", "x", "-n"}, {{"-n", "5"}}, -1, "Bad argument to -n option\n"},
    {"NameOnlyAtWordStartAndCaseSensitive", {"prog", "x-n", "--n", "-N", "-N5"}, 1, {"-n"}, {},
     {"prog", "x-n", "--n", "-N", "-N5"}, {}, 0, ""},
    {"ProgramNameIsExamined", {"-n8", "in.ig"}, 1, {"-n"}, {}, {"in.ig"}, {{"-n", "8"}}, 1, ""},
    {"KeyIsTheNameAsPassed", {"prog", "-length"}, 1, {"-len"}, {}, {"prog"}, {{"-len", "gth"}},
     1, ""},
    {"TwoNamesInOrder", {"prog", "-a", "1", "x", "-b2"}, 2, {"-a", "-b"}, {}, {"prog", "x"},
     {{"-a", "1"}, {"-b", "2"}}, 2, ""},
    {"FailureStopsLaterNames", {"prog", "-b", "2", "-a"}, 2, {"-a", "-b"}, {},
     {"prog", "-b", "2", "-a"}, {}, -1, "Bad argument to -a option\n"},
    {"FailureKeepsEarlierNames", {"prog", "-a", "1", "x", "-b"}, 2, {"-a", "-b"}, {},
     {"prog", "x", "-b"}, {{"-a", "1"}}, -1, "Bad argument to -b option\n"},
    {"ArgcZeroChangesNothing", {"prog", "-n", "5"}, 0, {"-n"}, {{"-k", "v"}},
     {"prog", "-n", "5"}, {{"-k", "v"}}, 1, ""},
    {"NegativeArgcChangesNothing", {"prog", "-n", "5"}, -1, {"-n"}, {},
     {"prog", "-n", "5"}, {}, 0, ""},
    {"NullFirstNameChangesNothing", {"prog", "-n", "5"}, 1, {nullptr}, {{"-k", "v"}},
     {"prog", "-n", "5"}, {{"-k", "v"}}, 1, ""},
    {"NullNameEndsTheList", {"prog", "-a", "1", "-b", "2"}, 3, {"-a", nullptr, "-b"}, {},
     {"prog", "-b", "2"}, {{"-a", "1"}}, 1, ""},
    {"ArgcLimitsTheNames", {"prog", "-a", "1", "-b", "2"}, 1, {"-a", "-b"}, {},
     {"prog", "-b", "2"}, {{"-a", "1"}}, 1, ""},
    {"MapKeptAndValueReplaced", {"prog", "-n", "9"}, 1, {"-n"}, {{"-n", "1"}, {"-z", ""}},
     {"prog"}, {{"-n", "9"}, {"-z", ""}}, 2, ""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, GetOptionsTest, testing::ValuesIn(kOptionCases), caseName);

// One case per row, aligned by hand: kept out of the formatter.
// clang-format off
const CollectCase kFlagCases[] = {
    {"AfterOptionCollection", {"prog", "-uc", "in.ig", "out.fa"}, 3, {"-unseq", "-uc", "-ol"},
     {{"-n", "60"}}, {"prog", "in.ig", "out.fa"}, {{"-n", "60"}, {"-uc", ""}}, 2, ""},
    {"ExactMatchOnly", {"prog", "-ucx", "-UC", "-uc", "x-uc", "in"}, 3, {"-unseq", "-uc", "-ol"},
     {}, {"prog", "-ucx", "-UC", "x-uc", "in"}, {{"-uc", ""}}, 1, ""},
    {"GivenTwiceRemovedTwiceStoredOnce", {"prog", "-uc", "a", "-uc"}, 3,
     {"-unseq", "-uc", "-ol"}, {}, {"prog", "a"}, {{"-uc", ""}}, 1, ""},
    {"AnyOrderAllFlags", {"prog", "-ol", "a", "-unseq", "b", "-uc"}, 3, {"-unseq", "-uc", "-ol"},
     {}, {"prog", "a", "b"}, {{"-ol", ""}, {"-uc", ""}, {"-unseq", ""}}, 3, ""},
    {"FlagNeverTakesAValue", {"prog", "-ol", "5"}, 1, {"-ol"}, {}, {"prog", "5"},
     {{"-ol", ""}}, 1, ""},
    {"ValueReplacedByEmpty", {"prog", "-uc"}, 1, {"-uc"}, {{"-uc", "x"}}, {"prog"},
     {{"-uc", ""}}, 1, ""},
    {"ProgramNameIsExamined", {"-ol", "x"}, 1, {"-ol"}, {}, {"x"}, {{"-ol", ""}}, 1, ""},
    {"ArgcZeroChangesNothing", {"prog", "-uc"}, 0, {"-uc"}, {{"-k", "v"}}, {"prog", "-uc"},
     {{"-k", "v"}}, 1, ""},
    {"NullFirstNameChangesNothing", {"prog", "-uc"}, 1, {nullptr}, {}, {"prog", "-uc"}, {}, 0,
     ""},
    {"NullNameEndsTheList", {"prog", "-uc", "-ol"}, 3, {"-uc", nullptr, "-ol"}, {},
     {"prog", "-ol"}, {{"-uc", ""}}, 1, ""},
    {"NoFlagsGiven", {"prog", "in.ig"}, 3, {"-unseq", "-uc", "-ol"}, {{"-n", "5"}},
     {"prog", "in.ig"}, {{"-n", "5"}}, 1, ""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, GetFlagsTest, testing::ValuesIn(kFlagCases), caseName);

// The order the converter relies on: options first, then flags.
TEST(Collectors, OptionThenFlagsLeaveTheOperands) {
  Argv argv({"prog", "-uc", "in.ig", "-n", "60", "out.fa", "-ol", "-unseq", "extra"});
  ARGMAP map;
  EXPECT_EQ(getoptions(argv.get(), map, 1, "-n"), 1);
  EXPECT_EQ(getflags(argv.get(), map, 3, "-unseq", "-uc", "-ol"), 4);
  EXPECT_EQ(argv.remaining(), (std::vector<std::string>{"prog", "in.ig", "out.fa", "extra"}));
  EXPECT_EQ(map, (ARGMAP{{"-n", "60"}, {"-ol", ""}, {"-uc", ""}, {"-unseq", ""}}));
}

// ---------------------------------------------------------------------------
// Binders, run through both twins
// ---------------------------------------------------------------------------

// Runs a test body inside a fresh temporary directory, so that relative
// operands such as "-" land there and can be checked.
class InTempDir {
 public:
  InTempDir() {
    char buf[4096];
    if (getcwd(buf, sizeof buf)) saved_ = buf;
    ok_ = !dir_.path().empty() && chdir(dir_.path().c_str()) == 0;
  }
  ~InTempDir() {
    if (!saved_.empty() && chdir(saved_.c_str()) != 0) std::perror("chdir");
  }
  bool ok() const { return ok_; }

 private:
  testutil::TempDir dir_;
  std::string saved_;
  bool ok_ = false;
};

struct StdioTwin {
  using In = FILE*;
  using Out = FILE*;
  static In stdIn() { return stdin; }
  static Out stdOut() { return stdout; }
  // A valid stream that no binder ever hands out, to see a reference left alone.
  static In untouchedIn() { return stderr; }
  static Out untouchedOut() { return stderr; }
  static std::string cannotRead(const std::string& name) { return "Bad file name " + name + "\n"; }
  static std::string readAll(In f) {
    std::string out;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    return out;
  }
  static void write(Out f, const std::string& text) { std::fputs(text.c_str(), f); }
  static void release(FILE* f) {
    if (f != nullptr && f != stdin && f != stdout && f != stderr) std::fclose(f);
  }
  // A failed open leaves the reference null.
  static void expectFailed(FILE*& f) { EXPECT_EQ(f, nullptr); }
};

std::istringstream gUntouchedIn;
std::ostringstream gUntouchedOut;

struct StreamTwin {
  using In = std::istream*;
  using Out = std::ostream*;
  static In stdIn() { return &std::cin; }
  static Out stdOut() { return &std::cout; }
  static In untouchedIn() { return &gUntouchedIn; }
  static Out untouchedOut() { return &gUntouchedOut; }
  static std::string cannotRead(const std::string& name) {
    return "Failed to open " + name + " for reading\n";
  }
  static std::string readAll(In in) {
    std::ostringstream out;
    out << in->rdbuf();
    return out.str();
  }
  static void write(Out out, const std::string& text) { *out << text; }
  static void release(std::istream* s) {
    if (s != nullptr && s != &std::cin && s != &gUntouchedIn) delete s;
  }
  static void release(std::ostream* s) {
    if (s != nullptr && s != &std::cout && s != &gUntouchedOut) delete s;
  }
  // A failed open hands over the new stream, in the failed state.
  template <typename S>
  static void expectFailed(S*& s) {
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->fail());
    release(s);
    s = nullptr;
  }
};

template <typename Twin>
class BinderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cwd_.ok());
    ASSERT_TRUE(testutil::writeFile("in.ig", "; some input\nNAME\nACGT\n"));
  }
  InTempDir cwd_;
};

using Twins = testing::Types<StdioTwin, StreamTwin>;
TYPED_TEST_SUITE(BinderTest, Twins);

enum class Bound { kNothing, kStandard, kFile };

struct InputCase {
  const char* name;
  std::vector<std::string> words;
  Bound bound;
  bool failMessage;  // the twin's own "cannot read" message for words[1]
};

// One case per row, aligned by hand: kept out of the formatter.
// clang-format off
const InputCase kInputCases[] = {
    {"NoOperand", {"prog"}, Bound::kNothing, false},
    {"DashIsStandardInput", {"prog", "-"}, Bound::kStandard, false},
    {"AnyDashWordIsStandardInput", {"prog", "-x", "in.ig"}, Bound::kStandard, false},
    {"NamedFile", {"prog", "in.ig", "out.fa"}, Bound::kFile, false},
    {"MissingFile", {"prog", "nosuch.ig"}, Bound::kNothing, true},
};
// clang-format on

TYPED_TEST(BinderTest, InputTable) {
  using Twin = TypeParam;
  for (const InputCase& c : kInputCases) {
    SCOPED_TRACE(c.name);
    Argv argv(c.words);
    typename Twin::In in = Twin::untouchedIn();
    testutil::StderrCapture err;
    char** pos = assigninput(in, argv.get());
    std::string said = err.text();
    EXPECT_EQ(said, c.failMessage ? Twin::cannotRead(c.words[1]) : "");
    if (c.bound == Bound::kNothing) {
      EXPECT_EQ(pos, nullptr);
      if (c.failMessage) {
        Twin::expectFailed(in);
      } else {
        EXPECT_EQ(in, Twin::untouchedIn());
      }
      continue;
    }
    EXPECT_EQ(pos, argv.get() + 1);
    if (c.bound == Bound::kStandard) {
      EXPECT_EQ(in, Twin::stdIn());
    } else {
      ASSERT_NE(in, nullptr);
      EXPECT_EQ(Twin::readAll(in), "; some input\nNAME\nACGT\n");
      Twin::release(in);
    }
    // Binding never creates or empties files.
    EXPECT_EQ(testutil::readFile("in.ig"), "; some input\nNAME\nACGT\n");
    EXPECT_FALSE(exists("out.fa"));
  }
}

struct OutputCase {
  const char* name;
  std::vector<std::string> words;
  int at;  // the position handed to the binder
  Bound bound;
  int consumed;  // index of the returned position; -1 for null
  std::string err;
  std::string written;              // the file that receives the output, when one is opened
  std::vector<std::string> absent;  // files that must not appear
};

// One case per row, aligned by hand: kept out of the formatter.
// clang-format off
const OutputCase kOutputCases[] = {
    {"OnlyProgramName", {"prog"}, 0, Bound::kStandard, 0, "", "", {"-"}},
    {"NoOperandAfterInput", {"prog", "in.ig"}, 1, Bound::kStandard, 1, "", "", {"-"}},
    {"DashIsStandardOutput", {"prog", "in.ig", "-"}, 1, Bound::kStandard, 2, "", "", {"-"}},
    {"AnyDashWordIsStandardOutput", {"prog", "in.ig", "-out"}, 1, Bound::kStandard, 2, "", "",
     {"-out"}},
    {"NamedFileLaterWordsIgnored", {"prog", "in.ig", "out.fa", "extra.fa"}, 1, Bound::kFile, 2, "",
     "out.fa", {"extra.fa"}},
    // After an unknown word took the input's place, the input file name is
    // the output operand and is opened (so emptied) for writing.
    {"FileAfterDashInputIsOutput", {"prog", "-x", "in.ig"}, 1, Bound::kFile, 2, "", "in.ig", {}},
    {"UnwritableName", {"prog", "in.ig", "nodir/out.fa"}, 1, Bound::kNothing, -1,
     "Failed to open nodir/out.fa for writing\n", "", {"nodir"}},
};
// clang-format on

TYPED_TEST(BinderTest, OutputByPositionTable) {
  using Twin = TypeParam;
  for (const OutputCase& c : kOutputCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(testutil::writeFile("in.ig", "; some input\n"));
    Argv argv(c.words);
    typename Twin::Out out = Twin::untouchedOut();
    testutil::StderrCapture err;
    char** pos = assignoutput(out, argv.get() + c.at);
    EXPECT_EQ(err.text(), c.err);
    EXPECT_EQ(pos, c.consumed < 0 ? nullptr : argv.get() + c.consumed);
    EXPECT_EQ(argv.remaining(), c.words);
    if (c.bound == Bound::kNothing) {
      Twin::expectFailed(out);
    } else if (c.bound == Bound::kStandard) {
      EXPECT_EQ(out, Twin::stdOut());
    } else {
      ASSERT_NE(out, nullptr);
      EXPECT_EQ(testutil::readFile(c.written), "");  // created or emptied
      Twin::write(out, ">x\n");
      Twin::release(out);
      EXPECT_EQ(testutil::readFile(c.written), ">x\n");
    }
    for (const std::string& name : c.absent) EXPECT_FALSE(exists(name)) << name;
  }
}

// The converter's sequence: the input binder's result positions the output.
TYPED_TEST(BinderTest, InputThenOutput) {
  using Twin = TypeParam;
  Argv argv({"prog", "in.ig", "out.fa", "more"});
  typename Twin::In in = nullptr;
  typename Twin::Out out = nullptr;
  char** args = assigninput(in, argv.get());
  ASSERT_EQ(args, argv.get() + 1);
  EXPECT_EQ(assignoutput(out, args), argv.get() + 2);
  ASSERT_NE(out, nullptr);
  Twin::write(out, Twin::readAll(in));
  Twin::release(in);
  Twin::release(out);
  EXPECT_EQ(testutil::readFile("out.fa"), "; some input\nNAME\nACGT\n");
  EXPECT_FALSE(exists("more"));
}

TYPED_TEST(BinderTest, OutputByNameEmptiesAnExistingFile) {
  using Twin = TypeParam;
  ASSERT_TRUE(testutil::writeFile("out.fa", "old content\n"));
  typename Twin::Out out = nullptr;
  char name[] = "out.fa";
  testutil::StderrCapture err;
  EXPECT_EQ(assignoutput(out, name), 1);
  EXPECT_EQ(err.text(), "");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(testutil::readFile("out.fa"), "");
  Twin::release(out);
}

TYPED_TEST(BinderTest, OutputByNameFailure) {
  using Twin = TypeParam;
  typename Twin::Out out = Twin::untouchedOut();
  char name[] = "nodir/out.fa";
  testutil::StderrCapture err;
  EXPECT_EQ(assignoutput(out, name), 0);
  EXPECT_EQ(err.text(), "Failed to open nodir/out.fa for writing\n");
  Twin::expectFailed(out);
}

// Where the twins differ by name: the stdio twin has no special names.
TEST(BinderTwins, StdioOutputByNameDashCreatesAFile) {
  InTempDir cwd;
  ASSERT_TRUE(cwd.ok());
  FILE* out = nullptr;
  char name[] = "-";
  testutil::StderrCapture err;
  EXPECT_EQ(assignoutput(out, name), 1);
  EXPECT_EQ(err.text(), "");
  ASSERT_NE(out, nullptr);
  EXPECT_NE(out, stdout);
  std::fputs(">dash\n", out);
  std::fclose(out);
  EXPECT_EQ(testutil::readFile("-"), ">dash\n");
}

TEST(BinderTwins, StreamOutputByNameDashBindsStandardOutput) {
  InTempDir cwd;
  ASSERT_TRUE(cwd.ok());
  for (const char* word : {"-", "-out.fa"}) {
    SCOPED_TRACE(word);
    std::ostream* out = nullptr;
    std::string name = word;
    testutil::StderrCapture err;
    EXPECT_EQ(assignoutput(out, name.data()), 1);
    EXPECT_EQ(err.text(), "");
    EXPECT_EQ(out, &std::cout);
    EXPECT_FALSE(exists(word));
  }
}

TEST(BinderTwins, StreamOutputByNullNameFailsSilently) {
  std::ostream* out = &gUntouchedOut;
  char* name = nullptr;
  testutil::StderrCapture err;
  EXPECT_EQ(assignoutput(out, name), 0);
  EXPECT_EQ(err.text(), "");
  EXPECT_EQ(out, &gUntouchedOut);
}

}  // namespace
