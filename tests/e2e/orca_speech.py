"""Plays the program as a blind user would and checks what Orca says: each row types keys with
xdotool and waits for the expected words, in order, in the "SPEECH OUTPUT" lines of Orca's debug
log; no key goes before Orca has finished speaking of the one before. Prints the table of what
Orca said and the delays from a key to Orca naming it.
Usage: orca_speech.py ORCA_LOG TUNE_FILE"""
import datetime
import re
import statistics
import subprocess
import sys
import time

LOG, TUNE = sys.argv[1], sys.argv[2]
SPEECH = re.compile(r"^(\d\d):(\d\d):(\d\d\.\d+) - SPEECH OUTPUT: '(.*?)(?:' ?\{.*)?$")
log, said, table, failures, delays = open(LOG, encoding="utf-8", errors="replace"), [], [], [], []


def read():
    for m in filter(None, map(SPEECH.match, log.readlines())):
        said.append((int(m[1]) * 3600 + int(m[2]) * 60 + float(m[3]), m[4].strip()))


def settle(since):
    """Waits, up to 20 s, until Orca has said all of a step that began at `since`: something new
    (or 2 s of nothing, for a key it does not echo), then half a second of silence. On a busy
    machine its speech lags; a key sent before it has caught up can be taken by the wrong
    widget, and what it still says lands in the next row."""
    start = time.monotonic()
    count, last = len(said), start
    while time.monotonic() - start < 20:
        read()
        now = time.monotonic()
        if len(said) != count:
            count, last = len(said), now
        elif now - last >= 0.5 and (count > since or now - start >= 2):
            return
        time.sleep(0.05)


def heard(since, words):
    """The lines after `since` where the words were said in order, waiting up to 20 s."""
    deadline = time.monotonic() + 20
    while True:
        read()
        found, at = [], since
        for word in words:
            at = next((i for i in range(at, len(said)) if word in said[i][1]), None)
            if at is None:
                break
            found.append(at)
            at += 1
        if len(found) == len(words) or time.monotonic() > deadline:
            return found if len(found) == len(words) else None
        time.sleep(0.05)


def type_text(text):
    step = len(said)
    subprocess.run(["xdotool", "type", text], check=True)
    settle(step)


def row(action, keys, *words, timed=False):
    since, t = len(said), datetime.datetime.now()
    for i, key in enumerate(keys):
        # Held keys go on at once, before the server's auto-repeat would start.
        if i > 0 and not key.startswith(("keydown", "keyup")):
            settle(step)
        step = len(said)
        subprocess.run(["xdotool"] + key.split(" ", 1), check=True)
        time.sleep(0.3 if key.startswith(("keydown", "keyup")) and len(keys) > 1 else 0)
    found = heard(since, words)
    if found:
        settle(since)
    table.append("| %s | %s | %s |" % (action, " / ".join(
        '"%s"' % text for _, text in said[since:found[-1] + 1 if found else None]),
        "good" if found else "FAIL"))
    if not found:
        failures.append("%s: expected %r" % (action, words))
    elif timed:
        delays.append((said[found[0]][0] - (t.hour * 3600 + t.minute * 60 + t.second
                                            + t.microsecond / 1e6)) * 1000)


row("The window appears", [], "ムルテカ", "キーボード panel", "英数字のキーで演奏します。")
for letter, name in [("q", "Q ラ"), ("w", "W シ"), ("r", "R レ"), ("t", "T ミ"), ("y", "Y ファ")]:
    row("%s pressed" % letter, ["key " + letter], name + " push button", timed=True)
row("y again", ["key y"], "Y ファ push button", "ファ4 (65)")
row("e and t held, then let go", ["keydown e", "keydown t", "keyup e", "keyup t"],
    "E ド", "T ミ", "すべて離しました")
row("q", ["key q"], "Q ラ push button")
row("F4", ["key F4"], "配列 F4、ドは Q")
row("q", ["key q"], "Q ド push button", "ド4 (60)")
row("Keypad 0", ["key KP_0"], "MIDIチャンネル 0")
row("w with the channel list shown", ["key w"], "W レ push button")
row("Tab to the channel list", ["key Tab"], "MIDIチャンネル combo box", "0")
row("Down", ["key Down"], "1")
row("Shift+Tab, keypad 0, F6", ["key shift+Tab", "key KP_0", "key F6"], "キーボード panel",
    "配列 F6、ドは E")
row("F2", ["key F2"], "自動演奏 dialog", "ﾌｧｲﾙ名")
type_text(TUNE)
row("Tab ×4 to the tempo list", ["key Tab"] * 4, "ﾃﾝﾎﾟ(T): combo box", "126")
row("Down", ["key Down"], "138")
row("Down", ["key Down"], "150")
for repeat in range(2):
    row("Shift+Tab", ["key shift+Tab"], "閉じる(X) push button")
    row("Shift+Tab", ["key shift+Tab"], "実　行 push button")
    row("Space: a performance", ["key space"], "演奏中。ｷｬﾝｾﾙ ボタン")
    if repeat == 0:
        row("Tab to the tempo list while it plays", ["key Tab"], "ﾃﾝﾎﾟ(T): combo box", "150",
            "演奏完了。実　行 ボタン")
row("Space again", ["key space"], "演奏中にキャンセルされました。実　行 ボタン")
row("Shift+Tab", ["key shift+Tab"], "参照(R)... push button")
row("Shift+Tab, a missing file's name", ["key shift+Tab", "key ctrl+a", "type nofile.txt"],
    "ﾌｧｲﾙ名(F)： text")
row("Tab", ["key Tab"], "参照(R)... push button")
row("Tab", ["key Tab"], "実　行 push button")
row("Execute with a missing file", ["key space"], "「nofile.txt」ﾌｧｲﾙはありません。")
row("Enter", ["key Return"], "実　行 push button")
row("Esc closes the dialog", ["key Escape"], "キーボード panel")
row("Esc", ["key Escape"], "現在のキー配列を印刷します。", "OK push button")
row("Esc answers no", ["key Escape"], "キーボード panel")
row("F11", ["key F11"], "ヘルプ dialog", "ヘルプの本文")
row("Down, Down in the text", ["key Down", "key Down"], "「自動演奏」ダイアログの表示")
row("Tab ×2 to the page list", ["key Tab", "key Tab"], "ヘルプの項目 combo box",
    "その他のキーの割当て")
row("Down", ["key Down"], "ミュージックファイルの書き方")
row("Esc", ["key Escape"], "キーボード panel")
row("F4, F3", ["key F4", "key F3"], "配列 F4、ドは Q", "練習 dialog", "ﾌｧｲﾙ名(F)： text")
type_text(TUNE)
for key, *words in [("Tab", "参照(R)... push"), ("Tab", "1音ずつ待つ(W)", "selected radio"), ("Tab",
        "ﾃﾝﾎﾟ(T): combo box", "126"), ("Down", "138"),
        ("Tab", "ﾃﾝﾎﾟ上げ(U): combo box", "しない"), ("Tab", "最初の行 最初"), ("Tab", "最後の行 最後"),
        ("Tab", "反復(N): Escまで"), ("Tab", "開始(S) push")]:
    row(key, ["key " + key], *words)
row("Space: practice starts", ["key space"], "配列 F6、ドは E", "notification 次は E ド、T ミ、U ソ")
row("e t u", ["key e", "key t", "key u"], "E ド push", "T ミ push", "U ソ push", "次は E ド、Y ファ、I ラ")
row("F8 reads the bar ahead on the key tape", ["key F8"],
    "notification 次の小節: I ラ・Y ファ・E ド、U ソ・T ミ・E ド、U ソ・T ミ・E ド")
row("Esc stops practice", ["key Escape"], "alert ムルテカの練習結果", "練習の結果（待つ・テンポ138・途中で終了）")
row("Enter", ["key Return"], "キーボード panel")

print("| Action | What Orca said | Verdict |\n|---|---|---|\n" + "\n".join(table))
print("key → Orca naming it: %s ms, median %.0f ms" % (
    ", ".join("%.0f" % d for d in delays), statistics.median(delays or [0])))
# A melody's single keys let go are not spoken, only the chord's end.
if sum("すべて離しました" in text for _, text in said) != 1:
    failures.append("keys let go were not announced exactly once")
log.seek(0)
failures += ["Orca's log shows " + e for e in ["bad content", "IndexError", "Traceback"]
             if e in log.read()]
print("".join("FAIL: %s\n" % f for f in failures), end="")
sys.exit(1 if failures else 0)
