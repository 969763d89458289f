#include "help_pages.h"

#include <initializer_list>

namespace help {
namespace {

// Stands in a page's list of lines where the rule is drawn.
constexpr std::string_view Rule = "\x01rule";

// A page: its title, the rule, then each line followed by a line break.
std::string BuildPage(std::string_view title, std::initializer_list<std::string_view> lines) {
    std::string page = std::string(title) + std::string(NewLine) + RuleLine();
    for (const std::string_view line : lines) {
        page += line == Rule ? RuleLine() : std::string(line) + std::string(NewLine);
    }
    return page;
}

}  // namespace

std::string RuleLine() {
    std::string rule;
    for (int i = 0; i < 34; ++i) rule += "=-";
    return rule + "=" + std::string(NewLine);
}

std::string KeysPage() {
    return BuildPage(KeysPageTitle, {
                                        " F2  : 「自動演奏」ダイアログの表示",
                                        " F4  : キー配置の変更　Ｑキーが「ド」になる",
                                        " F5  : キー配置の変更　Ｗキーが「ド」になる",
                                        " F6  : キー配置の変更　Ｅキーが「ド」になる <標準>",
                                        " F7  : キー配置の変更　Ｒキーが「ド」になる",
                                        " F9  : 「ムルテカ」の終了",
                                        " F11 : 「ヘルプ」ダイアログの表示",
                                        " F12 : バージョン番号の表示",
                                        " Esc : 現在のキー配置を印刷する",
                                        Rule,
                                    });
}

std::string MusicFilePage() {
    return BuildPage(MusicFilePageTitle,
                     {
                         " 1) テキストファイルで以下のように記述する。",
                         "　「ド2,レ2,ミ2」…「(音階)(長さ),(音階)(長さ),(音階)(長さ)」",
                         "　各音の区切りは、半角文字の「,」(カンマ)または、改行文字を指定しま",
                         "　す。",
                         "　(音階) ：全角で「ド」「レ」「ミ」「ファ」「ソ」「ラ」「シ」",
                         "　　　　　 のどれかを記述する。",
                         "　(音階)H：半角文字「H」を付けると１オクターブ上",
                         "　(音階)I：半角文字「I」を付けると２オクターブ上",
                         "　(音階)L：半角文字「L」を付けると１オクターブ下",
                         "　(音階)W：半角文字「W」を付けると２オクターブ下",
                         "　(音階)に半角文字「-」を指定すると休符を示します。",
                         "　(音階)に半角文字「^」を指定すると直前の音を継続します。",
                         "　更に、(音階)に半角文字「#」(シャープ)を付けると、半音上がることを",
                         "　示します。 ",
                         "　(長さ)：半角で、1～0 ",
                         "",
                         "　音の長さは数字で表記され、実際の長さは下の表の通りです ",
                         "　　表記　長さ",
                         "　　 1　　16分音符",
                         "　　 2　　8分音符",
                         "　　 3　　付点8分音符",
                         "　　 4　　4分音符",
                         "　　 5　　付点4分音符",
                         "　　 6　　2分音符",
                         "　　 7　　付点2分音符",
                         "　　 8　　8分3連符",
                         "　　 9　　4分3連符",
                         "　　 0　　全音符",
                         Rule,
                         " 2)　<指定例>",
                         "　　「ド2,-2,レ2,ミ2,ファ2」",
                         "　　「ド2,ド#2,レ#2,ファ#2」",
                         "　　「ドL2,ドH#2,レH#2,ファH#2」",
                         "",
                         "　　・区切り文字は改行でもかまいません。",
                         "　　┌────────",
                         "　　│ソH#2,ラH2",
                         "　　│ラH#2",
                         "　　│ドI3",
                         "　　└────────",
                         Rule,
                         " 3) 同時に複数音を出す指定",
                         "　「ド:ミ:ソ4」…「(音階):(音階):(音階)(長さ)」",
                         "　各音の区切りに、半角文字の「:」(コロン)を指定し後ろに長さを指定しま",
                         "　す。",
                         "　「ド:ミ:ソ4,ド:ファ:ラ4,ド:ミ:ソ4」",
                         "　このように指定します。",
                         "　(同時に出せる音の最大数は１０個までです。)",
                         Rule,
                     });
}

}  // namespace help
