#!/usr/bin/env python3
"""The examples of README.md's "Writing rules" section, run with the rule
tester of the real program: every settings block must load, every page must
come out as the README shows it, and every report line the README shows must
be in the tester's report.
Usage: readme_rules_test.py PROGRAM README"""
import os
import re
import shlex
import subprocess
import sys
import tempfile
import unittest

PROGRAM = os.path.abspath(sys.argv.pop(1))
README = os.path.abspath(sys.argv.pop(1))


def section(text, title):
    start = text.index('\n## %s\n' % title)
    end = text.find('\n## ', start + 1)
    return text[start:end if end >= 0 else len(text)]


def examples(text):
    """Each settings block with the blocks after it, up to the next settings
    block or heading: [(heading, yaml, {language: [contents]})]."""
    found = []
    heading = ''
    for part in re.split(r'^(#{3,4} .*)$', text, flags=re.M):
        if part.startswith('#'):
            heading = part.lstrip('# ')
            continue
        for block in re.finditer(r'^```(\w*)\n(.*?)^```$', part, flags=re.M | re.S):
            language, content = block.group(1), block.group(2)
            if language == 'yaml':
                found.append((heading, content, {}))
            elif found and found[-1][0] == heading:
                found[-1][2].setdefault(language, []).append(content)
    return found


class Readme_Rules(unittest.TestCase):
    def run_tester(self, settings, uri, page):
        with tempfile.TemporaryDirectory(prefix='brindlemoor-readme-') as directory:
            with open(os.path.join(directory, 'setting.yaml'), 'w', encoding='utf-8') as f:
                f.write(settings)
            with open(os.path.join(directory, 'page.html'), 'w', encoding='utf-8') as f:
                f.write(page)
            result = subprocess.run([PROGRAM, '--test', uri, 'page.html'], cwd=directory, capture_output=True,
                                    timeout=30)
        return result.returncode, result.stdout.decode('utf-8'), result.stderr.decode('utf-8')

    def test_examples_do_what_the_readme_says(self):
        with open(README, encoding='utf-8') as f:
            found = examples(section(f.read(), 'Writing rules'))
        tried = []
        for heading, settings, blocks in found:
            with self.subTest(heading=heading, settings=settings):
                uri, page, want = 'http://www.example.com/', '', None
                if 'sh' in blocks:
                    command = shlex.split(blocks['sh'][0])
                    self.assertEqual(command[:2], ['brindlemoor', '--test'])
                    self.assertEqual(command[3:], ['page.html'])
                    uri = command[2]
                if 'html' in blocks:
                    page, want = blocks['html']
                code, out, report = self.run_tester(settings, uri, page)
                bad = any('番目の正規表現が変です' in text for text in blocks.get('text', []))
                self.assertEqual(code, 1 if bad else 0, report)
                if want is not None:
                    self.assertEqual(out, want, report)
                for text in blocks.get('text', []):
                    for line in text.splitlines():
                        self.assertIn(line, report)
                tried.append(heading)
        # The five jobs and the two error examples, besides the first settings block.
        for job in ('Remove a block', 'Remove a tracker script', 'Rewrite an attribute', 'Replace a word',
                    'Insert a banner'):
            self.assertIn(job, tried)
        self.assertEqual(tried.count('Reading the error lines'), 2)


if __name__ == '__main__':
    unittest.main(verbosity=2)
