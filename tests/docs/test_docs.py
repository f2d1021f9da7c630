"""The docs say what the code does: every test name they cite exists, the
limits table states the values the code defines, and every relative link and
anchor resolves. What each check reads: doc_facts.py and docs/testing.md."""

import os
import tempfile
import textwrap
import unittest

import doc_facts

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def failure(problems):
    return "\n" + "\n".join(problems)


class DocsTest(unittest.TestCase):
    """The repository's own docs."""

    def test_every_cited_test_name_exists(self):
        gtests = doc_facts.gtest_names(ROOT)
        python = doc_facts.PythonTests(ROOT)
        identifiers = doc_facts.code_identifiers(ROOT)
        self.assertTrue(gtests and python.methods, "no tests found: the check would pass on anything")
        problems = []
        for path in doc_facts.doc_files(ROOT):
            text = doc_facts.read_text(ROOT, path)
            problems += doc_facts.missing_test_citations(path, text, gtests, python, identifiers)
        self.assertEqual(problems, [], failure(problems))

    def test_the_limits_table_states_the_values_of_the_code(self):
        problems = doc_facts.limits_problems(ROOT)
        self.assertEqual(problems, [], failure(problems))

    def test_every_relative_link_and_anchor_resolves(self):
        cache, problems = {}, []
        for path in doc_files_checked():
            problems += doc_facts.broken_links(ROOT, path, doc_facts.read_text(ROOT, path), cache)
        self.assertEqual(problems, [], failure(problems))


def doc_files_checked():
    files = doc_facts.doc_files(ROOT)
    assert "README.md" in files and any(path.startswith("docs") for path in files), files
    return files


class Tree:
    """A small repository in a temporary folder: files given as {path: text}."""

    def __init__(self, test, files):
        folder = tempfile.TemporaryDirectory()
        test.addCleanup(folder.cleanup)
        self.root = folder.name
        for path, text in files.items():
            full = os.path.join(self.root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", encoding="utf-8") as file:
                file.write(textwrap.dedent(text))


LIMITS_DOC = """\
    # Time and size limits

    | what | value | constant |
    |---|---|---|
    | pauses | 2 s, then 5 s | `kPausesMs` (`a/a.h`) |
    | a wait | {wait} | `kWaitMs` (`a/a.h`) |
    | the budget | 10 s | `kBudgetSeconds` (`a/a.h`) |
    | a buffer | 64 KiB (65,536 bytes) | `kBufferBytes` (`a/a.h`) |
    | an age | 1 day | `kAge` (`a/a.h`; in 100 ns) |
    | a stall | 60 s | `kStallMs` (`a/b.cpp`) |
    | a count | 2,048 characters | `kText` (`a/b.cpp`) |
    | a run | no limit | — |
"""
LIMITS_CODE = {
    "src/a/a.h": """\
        inline constexpr std::uint32_t kPausesMs[2] = {2000, 5'000};  // two pauses
        inline constexpr std::uint32_t kWaitMs = static_cast<std::uint32_t>(kPausesMs0) * 2u;
        constexpr int kBudgetSeconds = 10;
        constexpr std::size_t kBufferBytes = 64 * 1024;
        /* constexpr int kAge = 1; */
        inline constexpr std::uint64_t kAge = 24ull * 60 * 60 * 10'000'000;
        constexpr std::uint32_t kPausesMs0 = 250;
        """,
    "src/a/b.cpp": """\
        constexpr const wchar_t kUrl[] = L"http://example/";  // not a number
        constexpr std::uint32_t kStallMs = TARNIX_STALL_SECONDS * 1000u;
        constexpr std::size_t kText = (kWidth + 1) * sizeof(char16_t) / 2 - 1;
        constexpr std::size_t kWidth = 2048;
        """,
    "CMakeLists.txt": 'set(TARNIX_STALL_SECONDS 60 CACHE STRING "seconds")\n',
}


class LimitsTableTest(unittest.TestCase):
    """The table's reading and the constants' arithmetic, on a tree of its own."""

    def problems(self, wait="500 ms", extra_rows=""):
        doc = LIMITS_DOC.format(wait=wait) + textwrap.indent(extra_rows, "    ")
        return doc_facts.limits_problems(Tree(self, dict(LIMITS_CODE, **{"docs/limits.md": doc})).root)

    def test_a_table_that_matches_passes(self):
        self.assertEqual(self.problems(), [])

    def test_a_wrong_value_is_named_with_both_values(self):
        problems = self.problems(wait="600 ms")
        self.assertEqual(len(problems), 1, problems)
        self.assertIn("kWaitMs is 500 in src/a/a.h, but the table says '600 ms'", problems[0])

    def test_rows_that_cannot_be_checked_fail(self):
        cases = {
            "a constant in another file": "| x | 1 | `kBudgetSeconds` (`a/b.cpp`) |\n",
            "no such constant": "| x | 1 | `kNothing` (`a/a.h`) |\n",
            "a time without a unit in the code": "| x | 1 s | `kText` (`a/b.cpp`) |\n",
            "a value that is no number": "| x | about a second | `kWaitMs` (`a/a.h`) |\n",
            "a fraction": "| x | 0.5 s | `kWaitMs` (`a/a.h`) |\n",
            "two constants in one row": "| x | 1 | `kWaitMs`, `kBudgetSeconds` (`a/a.h`) |\n",
            "a missing cell": "| x | `kWaitMs` (`a/a.h`) |\n",
            "a string constant": "| x | 1 | `kUrl` (`a/b.cpp`) |\n",
            "an array against one value": "| x | 2 s | `kPausesMs` (`a/a.h`) |\n",
        }
        for name, row in cases.items():
            with self.subTest(name):
                self.assertEqual(len(self.problems(extra_rows=row)), 1, row)

    def test_the_table_must_be_there_once(self):
        tree = Tree(self, {"docs/a.md": "# Time and size limits\n\nnone\n", "docs/b.md": "# Other\n"})
        self.assertEqual(len(doc_facts.limits_problems(tree.root)), 1)
        tree = Tree(self, {"docs/a.md": LIMITS_DOC.format(wait="1 s"), "README.md": LIMITS_DOC.format(wait="1 s")})
        self.assertIn("expected one heading", doc_facts.limits_problems(tree.root)[0])


class CitationsTest(unittest.TestCase):

    def test_names_of_tests_that_do_not_exist_are_found(self):
        tree = Tree(self, {
            "tests/unit/a_test.cpp": """\
                TEST(Suite, KeepsTheRecordWhenTheWriteFails) {}
                TEST_F(FixtureTest, Works) {}
                TEST_P(TableTest, EachRow) {}
                """,
            "tests/e2e/test_thing.py": """\
                class ThingTest(object):
                    def test_starts(self):
                        pass
                def test_alone():
                    pass
                """,
            "src/a.cpp": "void ReadTheWholeRecordOfAKnownVersion();\n",
        })
        text = textwrap.dedent("""\
            Known: `Suite.KeepsTheRecordWhenTheWriteFails`, `FixtureTest.Works`, `TableTest.*`,
            `ThingTest.test_starts`, `test_thing.ThingTest.test_starts`, `test_alone`, `test_thing`,
            `test_thing.py`, `ReadTheWholeRecordOfAKnownVersion`, `KeepsTheRecordWhenTheWriteFails`,
            `harness.CHINESE_UI`, `TarnixLauncher.exe`, `GetLastError`.

            Unknown: `Suite.KeepsTheRecordWhenTheWriteFailed`, `Other.*`, `ThingTest.test_stops`,
            `test_other.ThingTest.test_starts`, `test_gone`, `test_gone.py`,
            `KeepsTheOldRecordWhenTheWriteFails`.

            ```
            Not read in a code block: `Suite.Gone`
            ```
            """)
        problems = doc_facts.missing_test_citations(
            "docs/x.md", text, doc_facts.gtest_names(tree.root), doc_facts.PythonTests(tree.root),
            doc_facts.code_identifiers(tree.root))
        cited = [problem.split("`")[1] for problem in problems]
        self.assertEqual(cited, ["Suite.KeepsTheRecordWhenTheWriteFailed", "Other.*", "ThingTest.test_stops",
                                 "test_other.ThingTest.test_starts", "test_gone", "test_gone.py",
                                 "KeepsTheOldRecordWhenTheWriteFails"])
        self.assertTrue(all(problem.startswith("docs/x.md:") for problem in problems), problems)


class LinksTest(unittest.TestCase):

    def test_headings_give_the_anchors_github_gives(self):
        text = textwrap.dedent("""\
            # How a launch goes
            ## The installation's lock
            ### ... add an OS call
            ## `kStallLimitMs` and [the watch](x.md)
            ## 下载失败！ and HTTP statuses
            ## Retries
            ## Retries
            <a id="kept-name"></a>
            ```
            # not a heading
            ```
            """)
        self.assertEqual(doc_facts.anchors(text), {
            "how-a-launch-goes", "the-installations-lock", "-add-an-os-call", "kstalllimitms-and-the-watch",
            "下载失败-and-http-statuses", "retries", "retries-1", "kept-name"})

    def test_broken_links_and_anchors_are_found(self):
        tree = Tree(self, {
            "README.md": "# Top\n## Part two\n",
            "docs/a.md": textwrap.dedent("""\
                # A
                ## Known limits
                Good: [top](../README.md), [two](../README.md#part-two), [here](#known-limits),
                [code](../src/x.cpp#L3), ![shot](shot.png), [web](https://example.com/#x),
                [folder](../src/), `[in code](nowhere.md)`.
                Bad: [gone](gone.md), [anchor](../README.md#part-three), [own](#known-limit),
                [up](../../outside.md).
                [ref]: missing.md
                """),
            "docs/shot.png": "",
            "src/x.cpp": "",
        })
        problems = doc_facts.broken_links(tree.root, "docs/a.md", doc_facts.read_text(tree.root, "docs/a.md"))
        targets = [problem.split(": link ")[1].split(":")[0] for problem in problems]
        self.assertEqual(targets, ["gone.md", "../README.md#part-three", "#known-limit", "../../outside.md",
                                   "missing.md"])


if __name__ == "__main__":
    unittest.main()
