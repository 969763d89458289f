"""Plays the program as a blind user would, with Orca listening, and checks what Orca says.
Each row types keys with xdotool and waits for the words expected in Orca's debug log (its
"SPEECH OUTPUT" lines); it prints the table of what Orca said and the key → speech delays.
Usage: orca_speech.py ORCA_LOG TUNE_FILE"""
import datetime
import re
import statistics
import subprocess
import sys
import time

LOG, TUNE = sys.argv[1], sys.argv[2]
SPEECH = re.compile(r"^(\d\d:\d\d:\d\d\.\d+) - SPEECH OUTPUT: '(.*)' ?\{")


class Speech:
    def __init__(self, path):
        self.file = open(path, encoding="utf-8", errors="replace")
        self.lines = []  # (time of day in seconds, text)

    def read(self):
        for line in self.file.readlines():
            match = SPEECH.match(line)
            if match:
                h, m, s = match.group(1).split(":")
                self.lines.append((int(h) * 3600 + int(m) * 60 + float(s), match.group(2)))

    def wait(self, since, words, seconds=20):
        """Waits until each of the words has been said, in order, after line `since`."""
        deadline = time.monotonic() + seconds
        while True:
            self.read()
            found, at = [], since
            for word in words:
                at = next((i for i in range(at, len(self.lines)) if word in self.lines[i][1]), None)
                if at is None:
                    break
                found.append(at)
                at += 1
            if len(found) == len(words):
                return found
            if time.monotonic() > deadline:
                return None
            time.sleep(0.05)


def now_of_day():
    t = datetime.datetime.now()
    return t.hour * 3600 + t.minute * 60 + t.second + t.microsecond / 1e6


speech = Speech(LOG)
failures = []
delays = []
table = []


def row(action, keys, words, *, spaced=False):
    """Types the keys (one xdotool argument list each) and waits for the words."""
    since = len(speech.lines)
    started = None
    for key in keys:
        if started is None:
            started = now_of_day()
        subprocess.run(["xdotool"] + key, check=True)
        if spaced:
            time.sleep(0.3)
    found = speech.wait(since, words)
    end = found[-1] + 1 if found else len(speech.lines)
    said = " / ".join('"%s"' % text.strip() for _, text in speech.lines[since:end])
    table.append("| %s | %s | %s |" % (action, said, "good" if found else "FAIL"))
    if not found:
        failures.append("%s: expected %r" % (action, words))
    return started, found


def key(name):
    return ["key", name]


def key_named(letter, name):
    """A key struck while the keyboard has the focus: Orca names it; the delay is kept."""
    started, found = row("%s pressed" % letter, [key(letter.lower())], [name + " push button"])
    if found:
        delays.append((speech.lines[found[0]][0] - started) * 1000)


# The program's window has the focus and Orca has spoken it.
row("The window appears", [], ["ムルテカ", "キーボード panel", "英数字のキーで演奏します。"])
key_named("Q", "Q ラ")
row("q again", [key("q")], ["Q ラ push button", "ラ3 (57)"])
for letter, name in [("W", "W シ"), ("R", "R レ"), ("T", "T ミ"), ("Y", "Y ファ")]:
    key_named(letter, name)
row("e and t held, then let go", [["keydown", "e"], ["keydown", "t"], ["keyup", "e"],
                                  ["keyup", "t"]], ["E ド", "T ミ", "すべて離しました"],
    spaced=True)
row("F4", [key("F4")], ["配列 F4、ドは Q"])
row("q after F4", [key("q")], ["Q ド push button", "ド4 (60)"])
row("Keypad 0", [key("KP_0")], ["MIDIチャンネル 0"])
row("w with the channel list shown", [key("w")], ["W レ push button"])
row("Tab to the channel list", [key("Tab")], ["MIDIチャンネル combo box", "0"])
row("Down", [key("Down")], ["1"])
row("Shift+Tab to the keys, keypad 0 hides the list, F6",
    [key("shift+Tab"), key("KP_0"), key("F6")], ["キーボード panel", "配列 F6、ドは E"])
row("F2", [key("F2")], ["自動演奏 dialog", "ﾌｧｲﾙ名"])
subprocess.run(["xdotool", "type", "--delay", "5", TUNE], check=True)
row("Tab ×4 to the tempo list", [key("Tab")] * 4, ["ﾃﾝﾎﾟ(T): combo box", "126"])
row("Down", [key("Down")], ["138"])
row("Down", [key("Down")], ["150"])
row("Shift+Tab", [key("shift+Tab")], ["閉じる(X) push button"])
row("Shift+Tab", [key("shift+Tab")], ["実　行 push button"])
row("Space: a performance", [key("space")], ["演奏中。ｷｬﾝｾﾙ ボタン"])
row("Tab to the tempo list while it plays", [key("Tab")],
    ["ﾃﾝﾎﾟ(T): combo box", "150", "演奏完了。実　行 ボタン"])
row("Shift+Tab", [key("shift+Tab")], ["閉じる(X) push button"])
row("Shift+Tab", [key("shift+Tab")], ["実　行 push button"])
row("Space", [key("space")], ["演奏中。ｷｬﾝｾﾙ ボタン"])
row("Space again", [key("space")], ["演奏中にキャンセルされました。実　行 ボタン"])
row("Shift+Tab", [key("shift+Tab")], ["参照(R)... push button"])
row("Shift+Tab", [key("shift+Tab")], ["ﾌｧｲﾙ名(F)： text"])
subprocess.run(["xdotool", "key", "ctrl+a", "type", "nofile.txt"], check=True)
row("Tab", [key("Tab")], ["参照(R)... push button"])
row("Tab", [key("Tab")], ["実　行 push button"])
row("Execute with a missing file", [key("space")], ["「nofile.txt」ﾌｧｲﾙはありません。"])
row("Enter", [key("Return")], ["実　行 push button"])
row("Esc closes the dialog", [key("Escape")], ["キーボード panel"])
row("Esc", [key("Escape")], ["現在のキー配列を印刷します。"])
row("Esc answers no", [key("Escape")], ["キーボード panel"])
row("F11", [key("F11")], ["ヘルプ dialog", "ヘルプの本文"])
row("Down, Down in the text", [key("Down"), key("Down")], ["「自動演奏」ダイアログの表示"])
row("Tab ×2 to the page list", [key("Tab"), key("Tab")],
    ["ヘルプの項目 combo box", "その他のキーの割当て"])
row("Down", [key("Down")], ["ミュージックファイルの書き方"])
row("Esc", [key("Escape")], ["キーボード panel"])

print("| Action | What Orca said | Verdict |\n|---|---|---|")
print("\n".join(table))
if delays:
    print("key → speech of its name: %s ms, median %.0f ms" % (
        ", ".join("%.0f" % d for d in delays), statistics.median(delays)))
# A melody's single keys let go are not spoken: only the chord's end was.
released = sum("すべて離しました" in text for _, text in speech.lines)
if released != 1:
    failures.append("keys let go were announced %d times, not once" % released)
with open(LOG, encoding="utf-8", errors="replace") as log:
    text = log.read()
for error in ["bad content sent to speak", "IndexError", "Traceback"]:
    if error in text:
        failures.append("Orca's debug log shows %r" % error)
for failure in failures:
    print("FAIL: " + failure)
sys.exit(1 if failures else 0)
