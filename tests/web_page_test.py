"""The page builder's reading of the program: a WebAssembly module's table,
in each of the encodings an element segment may have (newer toolchains write
other encodings than older ones), and where in the sources a function is
defined and which objects it declares.

    web_page_test.py BUILDER
"""
import importlib.util
import sys
import tempfile
import unittest

BUILDER = None


def section(identifier, body):
    assert len(body) < 128
    return bytes([identifier, len(body)]) + body


def module(*segments):
    body = bytes([len(segments)]) + b"".join(segments)
    return b"\0asm\1\0\0\0" + section(1, b"\0") + section(9, body)


OFFSET_1 = b"\x41\x01\x0b"  # i32.const 1, end


def ref_func(index):
    return b"\xd2" + bytes([index]) + b"\x0b"


class TableEntries(unittest.TestCase):
    def test_each_encoding(self):
        cases = {
            "function indices, table 0": bytes([0]) + OFFSET_1 + b"\x02\x07\x09",
            "function indices, table named": bytes([2, 0]) + OFFSET_1 + b"\x00\x02\x07\x09",
            "expressions, table 0": bytes([4]) + OFFSET_1 + b"\x02" + ref_func(7) + ref_func(9),
            "expressions, table named": bytes([6, 0]) + OFFSET_1 + b"\x70\x02" + ref_func(7) + ref_func(9),
        }
        for name, segment in cases.items():
            with self.subTest(name):
                self.assertEqual(BUILDER.table_entries(module(segment)), {1: 7, 2: 9})

    def test_passive_and_null_entries_are_not_the_table(self):
        passive = bytes([1, 0]) + b"\x01\x05"
        with_null = bytes([4]) + OFFSET_1 + b"\x02" + b"\xd0\x70\x0b" + ref_func(9)
        self.assertEqual(BUILDER.table_entries(module(passive, with_null)), {2: 9})


class SymbolNames(unittest.TestCase):
    def test_main_is_the_programs_not_the_compilers_wrapper(self):
        for lines, expected in (
                ("1:__original_main\n2:main\n3:Person::Person\\28\\29\n",
                 {1: "main", 2: "", 3: "Person::Person()"}),
                ("2:main\n4:\\28anonymous\\20namespace\\29::visit\\28\\29\n",
                 {2: "main", 4: "(anonymous namespace)::visit()"})):
            with self.subTest(lines), tempfile.NamedTemporaryFile("w", suffix=".symbols") as symbols:
                symbols.write(lines)
                symbols.flush()
                self.assertEqual(BUILDER.symbol_names(symbols.name), expected)


class Places(unittest.TestCase):
    def test_definition_and_objects_past_comments_and_literals(self):
        text = ("// int main() { Person fake; }\n"
                "int main()\n"
                "{\n"
                "    const char* brace = \"{\";\n"
                "    {\n"
                "        Person inner; // }\n"
                "    }\n"
                "    Person outer;\n"
                "    return 0;\n"
                "}\n")
        found = BUILDER.place("main", [("main.cpp", BUILDER.code_only(text))], ["Person"])
        self.assertEqual(found, {"file": 0, "line": 2, "end": 10, "objects": [
            {"class": "Person", "name": "inner", "line": 6, "scopeEnd": 7},
            {"class": "Person", "name": "outer", "line": 8, "scopeEnd": 10}]})

    def test_a_member_is_found_by_its_qualified_name(self):
        text = "Person::~Person()\n{\n}\n\nPerson::Person()\n{\n}\n"
        files = [("person.cpp", BUILDER.code_only(text))]
        self.assertEqual(BUILDER.place("Person::Person()", files, [])["line"], 5)
        self.assertEqual(BUILDER.place("Person::~Person()", files, [])["line"], 1)
        self.assertIsNone(BUILDER.place("std::endl()", files, []))


if __name__ == "__main__":
    found = importlib.util.spec_from_file_location("web_page", sys.argv.pop(1))
    BUILDER = importlib.util.module_from_spec(found)
    found.loader.exec_module(BUILDER)
    unittest.main()
