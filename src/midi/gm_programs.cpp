#include "gm_programs.h"

#include <QString>

namespace midi {

const std::array<GmProgram, 128> GmPrograms = {{
    {"Acoustic Grand Piano", "アコースティック・グランド・ピアノ"},   // 0
    {"Bright Acoustic Piano", "ブライト・アコースティック・ピアノ"},  // 1
    {"Electric Grand Piano", "エレクトリック・グランド・ピアノ"},     // 2
    {"Honky-tonk Piano", "ホンキートンク・ピアノ"},                   // 3
    {"Electric Piano 1", "エレクトリック・ピアノ1"},                  // 4
    {"Electric Piano 2", "エレクトリック・ピアノ2"},                  // 5
    {"Harpsichord", "ハープシコード"},                                // 6
    {"Clavi", "クラビネット"},                                        // 7
    {"Celesta", "チェレスタ"},                                        // 8
    {"Glockenspiel", "グロッケンシュピール"},                         // 9
    {"Music Box", "オルゴール"},                                      // 10
    {"Vibraphone", "ビブラフォン"},                                   // 11
    {"Marimba", "マリンバ"},                                          // 12
    {"Xylophone", "シロフォン"},                                      // 13
    {"Tubular Bells", "チューブラー・ベル"},                          // 14
    {"Dulcimer", "ダルシマー"},                                       // 15
    {"Drawbar Organ", "ドローバー・オルガン"},                        // 16
    {"Percussive Organ", "パーカッシブ・オルガン"},                   // 17
    {"Rock Organ", "ロック・オルガン"},                               // 18
    {"Church Organ", "チャーチ・オルガン"},                           // 19
    {"Reed Organ", "リード・オルガン"},                               // 20
    {"Accordion", "アコーディオン"},                                  // 21
    {"Harmonica", "ハーモニカ"},                                      // 22
    {"Tango Accordion", "タンゴ・アコーディオン"},                    // 23
    {"Acoustic Guitar (nylon)", "ナイロン弦ギター"},                  // 24
    {"Acoustic Guitar (steel)", "スチール弦ギター"},                  // 25
    {"Electric Guitar (jazz)", "ジャズ・ギター"},                     // 26
    {"Electric Guitar (clean)", "クリーン・ギター"},                  // 27
    {"Electric Guitar (muted)", "ミュート・ギター"},                  // 28
    {"Overdriven Guitar", "オーバードライブ・ギター"},                // 29
    {"Distortion Guitar", "ディストーション・ギター"},                // 30
    {"Guitar Harmonics", "ギター・ハーモニクス"},                     // 31
    {"Acoustic Bass", "アコースティック・ベース"},                    // 32
    {"Electric Bass (finger)", "フィンガー・ベース"},                 // 33
    {"Electric Bass (pick)", "ピック・ベース"},                       // 34
    {"Fretless Bass", "フレットレス・ベース"},                        // 35
    {"Slap Bass 1", "スラップ・ベース1"},                             // 36
    {"Slap Bass 2", "スラップ・ベース2"},                             // 37
    {"Synth Bass 1", "シンセ・ベース1"},                              // 38
    {"Synth Bass 2", "シンセ・ベース2"},                              // 39
    {"Violin", "バイオリン"},                                         // 40
    {"Viola", "ビオラ"},                                              // 41
    {"Cello", "チェロ"},                                              // 42
    {"Contrabass", "コントラバス"},                                   // 43
    {"Tremolo Strings", "トレモロ・ストリングス"},                    // 44
    {"Pizzicato Strings", "ピチカート・ストリングス"},                // 45
    {"Orchestral Harp", "ハープ"},                                    // 46
    {"Timpani", "ティンパニ"},                                        // 47
    {"String Ensemble 1", "ストリングス1"},                           // 48
    {"String Ensemble 2", "ストリングス2"},                           // 49
    {"Synth Strings 1", "シンセ・ストリングス1"},                     // 50
    {"Synth Strings 2", "シンセ・ストリングス2"},                     // 51
    {"Choir Aahs", "コーラス・アー"},                                 // 52
    {"Voice Oohs", "ボイス・ウー"},                                   // 53
    {"Synth Voice", "シンセ・ボイス"},                                // 54
    {"Orchestra Hit", "オーケストラ・ヒット"},                        // 55
    {"Trumpet", "トランペット"},                                      // 56
    {"Trombone", "トロンボーン"},                                     // 57
    {"Tuba", "チューバ"},                                             // 58
    {"Muted Trumpet", "ミュート・トランペット"},                      // 59
    {"French Horn", "フレンチ・ホルン"},                              // 60
    {"Brass Section", "ブラス・セクション"},                          // 61
    {"Synth Brass 1", "シンセ・ブラス1"},                             // 62
    {"Synth Brass 2", "シンセ・ブラス2"},                             // 63
    {"Soprano Sax", "ソプラノ・サックス"},                            // 64
    {"Alto Sax", "アルト・サックス"},                                 // 65
    {"Tenor Sax", "テナー・サックス"},                                // 66
    {"Baritone Sax", "バリトン・サックス"},                           // 67
    {"Oboe", "オーボエ"},                                             // 68
    {"English Horn", "イングリッシュ・ホルン"},                       // 69
    {"Bassoon", "ファゴット"},                                        // 70
    {"Clarinet", "クラリネット"},                                     // 71
    {"Piccolo", "ピッコロ"},                                          // 72
    {"Flute", "フルート"},                                            // 73
    {"Recorder", "リコーダー"},                                       // 74
    {"Pan Flute", "パン・フルート"},                                  // 75
    {"Blown Bottle", "ボトル"},                                       // 76
    {"Shakuhachi", "尺八"},                                           // 77
    {"Whistle", "口笛"},                                              // 78
    {"Ocarina", "オカリナ"},                                          // 79
    {"Lead 1 (square)", "矩形波リード"},                              // 80
    {"Lead 2 (sawtooth)", "ノコギリ波リード"},                        // 81
    {"Lead 3 (calliope)", "カリオペ・リード"},                        // 82
    {"Lead 4 (chiff)", "チフ・リード"},                               // 83
    {"Lead 5 (charang)", "チャランゴ・リード"},                       // 84
    {"Lead 6 (voice)", "ボイス・リード"},                             // 85
    {"Lead 7 (fifths)", "5度リード"},                                 // 86
    {"Lead 8 (bass + lead)", "ベース＆リード"},                       // 87
    {"Pad 1 (new age)", "ニューエイジ・パッド"},                      // 88
    {"Pad 2 (warm)", "ウォーム・パッド"},                             // 89
    {"Pad 3 (polysynth)", "ポリシンセ・パッド"},                      // 90
    {"Pad 4 (choir)", "クワイア・パッド"},                            // 91
    {"Pad 5 (bowed)", "ボウ・パッド"},                                // 92
    {"Pad 6 (metallic)", "メタリック・パッド"},                       // 93
    {"Pad 7 (halo)", "ハロー・パッド"},                               // 94
    {"Pad 8 (sweep)", "スウィープ・パッド"},                          // 95
    {"FX 1 (rain)", "雨"},                                            // 96
    {"FX 2 (soundtrack)", "サウンドトラック"},                        // 97
    {"FX 3 (crystal)", "クリスタル"},                                 // 98
    {"FX 4 (atmosphere)", "アトモスフィア"},                          // 99
    {"FX 5 (brightness)", "ブライトネス"},                            // 100
    {"FX 6 (goblins)", "ゴブリン"},                                   // 101
    {"FX 7 (echoes)", "エコー"},                                      // 102
    {"FX 8 (sci-fi)", "SF"},                                          // 103
    {"Sitar", "シタール"},                                            // 104
    {"Banjo", "バンジョー"},                                          // 105
    {"Shamisen", "三味線"},                                           // 106
    {"Koto", "琴"},                                                   // 107
    {"Kalimba", "カリンバ"},                                          // 108
    {"Bagpipe", "バグパイプ"},                                        // 109
    {"Fiddle", "フィドル"},                                           // 110
    {"Shanai", "シャナイ"},                                           // 111
    {"Tinkle Bell", "ティンクル・ベル"},                              // 112
    {"Agogo", "アゴゴ"},                                              // 113
    {"Steel Drums", "スチール・ドラム"},                              // 114
    {"Woodblock", "ウッドブロック"},                                  // 115
    {"Taiko Drum", "太鼓"},                                           // 116
    {"Melodic Tom", "メロディック・タム"},                            // 117
    {"Synth Drum", "シンセ・ドラム"},                                 // 118
    {"Reverse Cymbal", "リバース・シンバル"},                         // 119
    {"Guitar Fret Noise", "ギター・フレット・ノイズ"},                // 120
    {"Breath Noise", "ブレス・ノイズ"},                               // 121
    {"Seashore", "海岸"},                                             // 122
    {"Bird Tweet", "鳥のさえずり"},                                   // 123
    {"Telephone Ring", "電話のベル"},                                 // 124
    {"Helicopter", "ヘリコプター"},                                   // 125
    {"Applause", "拍手"},                                             // 126
    {"Gunshot", "銃声"},                                              // 127
}};

namespace {

// Folds what a typed name may differ in: width and compatibility forms (NFKC), case, hiragana
// against katakana; and keeps letters and digits only, so blanks, "-", "・" and brackets drop out.
QString folded(QStringView text) {
    const QString wide = text.toString().normalized(QString::NormalizationForm_KC).toCaseFolded();
    QString result;
    for (QChar c : wide) {
        if (c.unicode() >= 0x3041 && c.unicode() <= 0x3096) c = QChar(c.unicode() + 0x60);
        if (c.isLetterOrNumber()) result += c;
    }
    return result;
}

QString folded(std::string_view utf8) {
    return folded(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

}  // namespace

std::optional<int> findGmProgram(const std::string& text) {
    const QString typed = QString::fromUtf8(text).trimmed();
    bool isNumber = false;
    const int number = typed.toInt(&isNumber);
    if (isNumber) {
        if (number >= 0 && number <= 127) return number;
        return std::nullopt;
    }
    const QString wanted = folded(typed);
    if (wanted.isEmpty()) return std::nullopt;
    std::optional<int> partly;
    for (int i = 0; i < 128; ++i) {
        const QString english = folded(GmPrograms[i].english);
        const QString japanese = folded(GmPrograms[i].japanese);
        if (english == wanted || japanese == wanted) return i;
        if (!partly && (english.contains(wanted) || japanese.contains(wanted))) partly = i;
    }
    return partly;
}

}  // namespace midi
