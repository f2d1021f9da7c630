"""The Group Policy templates in policy/ (an ADMX file and its ADML files for
en-US and zh-CN) are well-formed and write exactly what the launcher reads:
the key, the value names and their types, the machine's key and the user's,
as src/platform/admin_policy.cpp and its header define them. The code's side
is read from the source, never restated here."""

import copy
import os
import re
import unittest
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
POLICY = os.path.join(ROOT, "policy")
ADMX = os.path.join(POLICY, "Tarnix.admx")
LANGUAGES = ("en-US", "zh-CN")
NS = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"
Q = "{%s}" % NS
HIVE_CLASSES = {frozenset({"LocalMachine"}): "Machine", frozenset({"CurrentUser"}): "User",
                frozenset({"LocalMachine", "CurrentUser"}): "Both"}


def read(path):
    with open(path, encoding="utf-8") as file:
        return file.read()


def cxx_wide_string(literal):
    """The text of a C++ wide string literal's body (only the escapes it uses)."""
    return literal.replace("\\\\", "\\")


def code_policy():
    """What the launcher reads, from its source: {"key", "class", "values":
    {name: type}, "max_url_length"}."""
    header = read(os.path.join(ROOT, "src", "platform", "admin_policy.h"))
    source = read(os.path.join(ROOT, "src", "platform", "admin_policy.cpp"))
    key = cxx_wide_string(re.search(r'kPolicyKeyPath\[\]\s*=\s*L"((?:[^"\\]|\\.)*)"', header).group(1))
    names = {constant: value for constant, value in
             re.findall(r'\b(k\w+ValueName)\[\]\s*=\s*L"([^"]*)"', header)}
    values = {}
    # Each value is read by a call that names its constant; the type it then
    # insists on is the first "type != kReg..." after that call.
    for call in re.finditer(r"ReadPolicyValue\([^;]*?\b(k\w+ValueName)\b", source):
        check = re.compile(r"\btype\s*!=\s*kReg(\w+)").search(source, call.end())
        if check is None:
            raise AssertionError(f"no type check after the read of {call.group(1)}")
        values[names[call.group(1)]] = "REG_" + check.group(1).upper()
    keys_table = re.search(r"kPolicyKeys\[\]\s*=\s*\{(.*?)\};", source, re.S).group(1)
    hives = frozenset(re.findall(r"RegistryHive::(\w+)", keys_table))
    max_length = int(re.search(r"kMaxPolicyUrlLength\s*=\s*(\d+)", header).group(1))
    return {"key": key, "class": HIVE_CLASSES[hives], "values": values, "max_url_length": max_length}


def written_values(policy):
    """What one ADMX policy writes: {value name: type} and problems found."""
    written, problems = {}, []
    name = policy.get("name")
    key = policy.get("key")
    if policy.get("valueName"):
        states = [policy.find(Q + state) for state in ("enabledValue", "disabledValue")]
        kinds = {child.tag.replace(Q, "") for state in states if state is not None for child in state}
        if kinds == {"decimal"}:
            written[policy.get("valueName")] = (key, "REG_DWORD")
        elif kinds == {"string"}:
            written[policy.get("valueName")] = (key, "REG_SZ")
        else:
            problems.append(f"policy {name}: its enabled and disabled values are {sorted(kinds)}")
    elements = policy.find(Q + "elements")
    for element in (elements if elements is not None else []):
        kind = element.tag.replace(Q, "")
        element_key = element.get("key", key)
        if kind == "text":
            written[element.get("valueName")] = (
                element_key, "REG_EXPAND_SZ" if element.get("expandable") == "true" else "REG_SZ")
        elif kind == "decimal":
            written[element.get("valueName")] = (
                element_key, "REG_SZ" if element.get("storeAsText") == "true" else "REG_DWORD")
        else:
            problems.append(f"policy {name}: element {kind} is not one this check knows")
    return written, problems


def template_problems(admx, admls, code):
    """Every way the templates disagree with the code or with themselves.
    admx: the parsed ADMX root; admls: {language: parsed ADML root}."""
    problems = []
    if admx.tag != Q + "policyDefinitions":
        return [f"the ADMX's root is {admx.tag}"]
    written = {}
    categories = {c.get("name") for c in admx.iter(Q + "category")}
    supported = {d.get("name") for d in admx.iter(Q + "definition")}
    for policy in admx.iter(Q + "policy"):
        name = policy.get("name")
        if policy.get("class") != code["class"]:
            problems.append(f"policy {name}: class {policy.get('class')}, the launcher reads {code['class']}")
        parent = policy.find(Q + "parentCategory")
        if parent is None or parent.get("ref") not in categories:
            problems.append(f"policy {name}: no known parent category")
        support = policy.find(Q + "supportedOn")
        if support is None or support.get("ref") not in supported:
            problems.append(f"policy {name}: no known supportedOn")
        values, found = written_values(policy)
        problems += found
        for value, where in values.items():
            if value in written:
                problems.append(f"value {value} is written by two policies")
            written[value] = where
        for text in policy.iter(Q + "text"):
            if text.get("maxLength") != str(code["max_url_length"]):
                problems.append(f"policy {name}: text {text.get('id')} takes {text.get('maxLength')} "
                                f"characters, the launcher {code['max_url_length']}")
    expected = {value: (code["key"], kind) for value, kind in code["values"].items()}
    if written != expected:
        problems.append(f"the templates write {written}, the launcher reads {expected}")

    admx_text = ET.tostring(admx, encoding="unicode")
    strings = set(re.findall(r"\$\(string\.(\w+)\)", admx_text))
    presentations = set(re.findall(r"\$\(presentation\.(\w+)\)", admx_text))
    required = admx.find(Q + "resources").get("minRequiredRevision")
    for language, adml in admls.items():
        if adml.tag != Q + "policyDefinitionResources":
            problems.append(f"{language}: the ADML's root is {adml.tag}")
            continue
        if float(adml.get("revision", "0")) < float(required):
            problems.append(f"{language}: revision {adml.get('revision')} below the ADMX's {required}")
        defined = {s.get("id"): (s.text or "") for s in adml.iter(Q + "string")}
        for missing in sorted(strings - defined.keys()):
            problems.append(f"{language}: no string {missing}")
        for string_id, text in defined.items():
            if not text.strip():
                problems.append(f"{language}: string {string_id} is empty")
        shown = {p.get("id"): p for p in adml.iter(Q + "presentation")}
        for missing in sorted(presentations - shown.keys()):
            problems.append(f"{language}: no presentation {missing}")
        for policy in admx.iter(Q + "policy"):
            reference = re.fullmatch(r"\$\(presentation\.(\w+)\)", policy.get("presentation", ""))
            if not reference or reference.group(1) not in shown:
                continue
            ids = {element.get("id") for element in policy.find(Q + "elements")}
            refs = {box.get("refId") for box in shown[reference.group(1)]}
            if refs != ids:
                problems.append(f"{language}: presentation {reference.group(1)} shows {sorted(refs)}, "
                                f"the policy has {sorted(ids)}")
    return problems


def load_templates():
    admx = ET.parse(ADMX).getroot()
    admls = {language: ET.parse(os.path.join(POLICY, language, "Tarnix.adml")).getroot()
             for language in LANGUAGES}
    return admx, admls


class PolicyTemplatesTest(unittest.TestCase):

    def test_the_templates_write_what_the_launcher_reads(self):
        admx, admls = load_templates()  # ET.parse fails on a file that is not well-formed
        code = code_policy()
        self.assertEqual(set(code["values"]), {"UsageReport", "InstallerUrl"}, "read from the source")
        self.assertEqual(template_problems(admx, admls, code), [])

    def test_every_language_file_of_the_template_is_there_and_nothing_else(self):
        found = sorted(name for name in os.listdir(POLICY) if os.path.isdir(os.path.join(POLICY, name)))
        self.assertEqual(found, sorted(LANGUAGES))

    def test_a_template_that_differs_from_the_code_is_caught(self):
        # Each change on a copy of the real templates must give a problem.
        def policy(admx, name):
            return next(p for p in admx.iter(Q + "policy") if p.get("name") == name)

        def usage_report_as_text(admx, _):
            for state in ("enabledValue", "disabledValue"):
                element = policy(admx, "UsageReport").find(Q + state)[0]
                element.tag, element.attrib = Q + "string", {}
                element.text = "1"

        def url_expandable(admx, _):
            policy(admx, "InstallerUrl").find(Q + "elements")[0].set("expandable", "true")

        def wrong_key(admx, _):
            policy(admx, "InstallerUrl").set("key", r"SOFTWARE\Policies\Korvane\Tarnix Launcher")

        def wrong_value_name(admx, _):
            policy(admx, "UsageReport").set("valueName", "UsageReports")

        def machine_only(admx, _):
            policy(admx, "InstallerUrl").set("class", "Machine")

        def missing_chinese_string(_, admls):
            table = next(admls["zh-CN"].iter(Q + "stringTable"))
            table.remove(next(s for s in table if s.get("id") == "InstallerUrl_Help"))

        def presentation_of_another_element(_, admls):
            next(admls["en-US"].iter(Q + "textBox")).set("refId", "Url")

        def longer_url(admx, _):
            policy(admx, "InstallerUrl").find(Q + "elements")[0].set("maxLength", "4096")

        cases = (usage_report_as_text, url_expandable, wrong_key, wrong_value_name, machine_only,
                 missing_chinese_string, presentation_of_another_element, longer_url)
        original, original_admls = load_templates()
        code = code_policy()
        for change in cases:
            with self.subTest(change.__name__):
                admx, admls = copy.deepcopy(original), copy.deepcopy(original_admls)
                change(admx, admls)
                self.assertNotEqual(template_problems(admx, admls, code), [])


if __name__ == "__main__":
    unittest.main()
