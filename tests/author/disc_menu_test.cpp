// Discs made through the command line, played with libdvdnav: the buttons of titleset and
// table-of-contents menus must lead where their commands say, and stills hold where the tables say.
#include <dvdnav/dvdnav.h>
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <functional>

#include "author/disc_support.h"
#include "scan_fixtures.h"

namespace author {
namespace {

using testing::TempDir;

// Plays a disc block by block, passing over stills and waits, until a condition holds.
class Player {
public:
    explicit Player(const std::string& dvd) {
        if (dvdnav_open(&nav_, dvd.c_str()) != DVDNAV_STATUS_OK) nav_ = nullptr;
    }
    ~Player() {
        if (nav_) dvdnav_close(nav_);
    }
    dvdnav_t* nav() const { return nav_; }

    // Runs until `reached` holds at a NAV packet; false when the disc stops or the budget ends.
    bool play_until(const std::function<bool(pci_t*)>& reached, int budget = 20000) {
        uint8_t block[DVD_VIDEO_LB_LEN];
        while (budget-- > 0) {
            int event = 0, length = 0;
            if (dvdnav_get_next_block(nav_, block, &event, &length) != DVDNAV_STATUS_OK) return false;
            switch (event) {
                case DVDNAV_STILL_FRAME: dvdnav_still_skip(nav_); break;
                case DVDNAV_WAIT: dvdnav_wait_skip(nav_); break;
                case DVDNAV_STOP: return false;
                case DVDNAV_NAV_PACKET: {
                    pci_t* pci = dvdnav_get_current_nav_pci(nav_);
                    if (reached(pci)) {
                        last_pci_ = pci;
                        return true;
                    }
                    break;
                }
                default: break;
            }
        }
        return false;
    }
    pci_t* pci() const { return last_pci_; }

    // Runs into a menu of the domain (dvdnav_is_domain_vmgm or _vtsm) showing `buttons` buttons.
    bool play_until_menu(int8_t (*domain)(dvdnav_t*), int buttons) {
        return play_until([&](pci_t* pci) { return domain(nav_) && pci->hli.hl_gi.btn_ns >= buttons; });
    }
    // Runs until a title plays; false when none does.
    bool play_until_title() {
        return play_until([&](pci_t*) { return dvdnav_is_domain_vts(nav_) != 0; });
    }
    // Runs until a title plays, which must be chapter `part` of title `title`.
    void expect_playing(int32_t title, int32_t part) {
        ASSERT_TRUE(play_until_title());
        int32_t playing = 0, playing_part = 0;
        ASSERT_EQ(dvdnav_current_title_info(nav_, &playing, &playing_part), DVDNAV_STATUS_OK);
        EXPECT_EQ(playing, title);
        EXPECT_EQ(playing_part, part);
    }

private:
    dvdnav_t* nav_ = nullptr;
    pci_t* last_pci_ = nullptr;
};

// One information file read through libdvdread (0 the manager, n titleset n).
class InformationFile {
public:
    InformationFile(const std::string& dvd, int number) : reader_(DVDOpen(dvd.c_str())) {
        if (reader_) ifo_ = ifoOpen(reader_, number);
    }
    ~InformationFile() {
        if (ifo_) ifoClose(ifo_);
        if (reader_) DVDClose(reader_);
    }
    InformationFile(const InformationFile&) = delete;
    InformationFile& operator=(const InformationFile&) = delete;
    const ifo_handle_t* ifo() const { return ifo_; }

private:
    dvd_reader_t* reader_ = nullptr;
    ifo_handle_t* ifo_ = nullptr;
};

// Where the titleset menu's two buttons lie: side by side, each the other's left and right.
struct ButtonBox {
    int x1, y1, x2, y2;
};
constexpr ButtonBox kFirstButton{100, 100, 300, 200};
constexpr ButtonBox kSecondButton{400, 100, 600, 200};

std::vector<uint8_t> button_record(const char* name, int colour_group, const ButtonBox& box,
                                   const char* neighbour) {
    using namespace scan_test;
    auto u16 = [](int v) { return std::vector<uint8_t>{uint8_t(v >> 8), uint8_t(v)}; };
    return concat({text(name), {0, 0, 0, uint8_t(colour_group)}, u16(box.x1), u16(box.y1), u16(box.x2),
                   u16(box.y2), text(""), text(""), text(neighbour), text(neighbour)});
}

// A copy of the menu VOB with a "discforge-data" sector in front that lays out buttons 1 and 2.
std::string with_button_layout(const std::string& menu, const std::string& path) {
    using namespace scan_test;
    const std::vector<uint8_t> records = concat({
        {2, 1, 0x12, 0x21, 0xFF, 0xFF, 0x12, 0x21, 0xFF, 0xFF},  // one button colour entry
        {3, 2},
        button_record("1", 0, kFirstButton, "2"),
        button_record("2", 0, kSecondButton, "1"),
        {0xFF},
    });
    std::vector<uint8_t> bytes = data_sector(records);
    const std::vector<uint8_t> stream = testing::read_file(menu);
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    testing::write_file(path, bytes);
    return path;
}

void expect_box(const btni_t& button, const ButtonBox& box) {
    EXPECT_EQ(button.x_start, unsigned(box.x1));
    EXPECT_EQ(button.y_start, unsigned(box.y1));
    EXPECT_EQ(button.x_end, unsigned(box.x2));
    EXPECT_EQ(button.y_end, unsigned(box.y2));
}

TEST(MenuDisc, ButtonsReachTheTitlesTheyName) {
    TempDir work;
    const std::string menu = testing::make_clip(work.path(), "menu.vob", 2, "-target pal-dvd -g 12");
    const std::string laid_out = with_button_layout(menu, work / "buttons.vob");
    const std::string a = testing::make_clip(work.path(), "a.vob", 3, "-target pal-dvd -g 12");
    const std::string b = testing::make_clip(work.path(), "b.vob", 3, "-target pal-dvd -g 12");
    const std::string dvd = work / "DVD";
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(testing::run_discforge({"-o", dvd, "-m", "-f", laid_out, "-b", "jump title 1;", "-b",
                                      "jump title 1 chapter 2;", "-t", "-f", a, "-f", b}),
              0);
    ASSERT_EQ(testing::run_discforge({"-T", "-o", dvd, "-m", "-f", menu, "-b", "jump titleset 1 menu;"}), 0);
    ::testing::internal::GetCapturedStderr();
    testing::check_files(dvd, true);
    testing::check_reader_accepts(dvd, 1);
    testing::check_reader_accepts_backups(dvd, 1);

    Player player(dvd);
    ASSERT_TRUE(player.nav());

    // First play leads to the table-of-contents menu; its button to the titleset menu.
    ASSERT_TRUE(player.play_until_menu(dvdnav_is_domain_vmgm, 1));
    ASSERT_EQ(dvdnav_button_select_and_activate(player.nav(), player.pci(), 1), DVDNAV_STATUS_OK);
    ASSERT_TRUE(player.play_until_menu(dvdnav_is_domain_vtsm, 2));

    // The highlight data places the buttons as laid out, and they lead to each other sideways.
    const hl_gi_t& highlight = player.pci()->hli.hl_gi;
    EXPECT_EQ(highlight.hli_ss, 1u);
    expect_box(player.pci()->hli.btnit[0], kFirstButton);
    expect_box(player.pci()->hli.btnit[1], kSecondButton);
    EXPECT_EQ(player.pci()->hli.btnit[0].right, 2u);
    EXPECT_EQ(player.pci()->hli.btnit[1].left, 1u);

    // A click on the second button plays chapter 2 of title 1.
    ASSERT_EQ(dvdnav_mouse_activate(player.nav(), player.pci(), 500, 150), DVDNAV_STATUS_OK);
    player.expect_playing(1, 2);

    // The titleset's root menu can be called from the title.
    ASSERT_EQ(dvdnav_menu_call(player.nav(), DVD_MENU_Root), DVDNAV_STATUS_OK);
    EXPECT_TRUE(player.play_until_menu(dvdnav_is_domain_vtsm, 2));
}

}  // namespace
}  // namespace author

namespace author {
namespace {

TEST(MenuDisc, TitlesetMenuWithoutTableOfContentsMenuIsWhereTheDiscStarts) {
    TempDir work;
    const std::string menu = testing::make_clip(work.path(), "menu.vob", 2, "-target pal-dvd -g 12");
    const std::string a = testing::make_clip(work.path(), "a.vob", 2, "-target pal-dvd -g 12");
    const std::string dvd = work / "DVD";
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(testing::run_discforge({"-o", dvd, "-m", "-f", menu, "-b", "jump title 1;", "-t", "-f", a}), 0);
    ASSERT_EQ(testing::run_discforge({"-T", "-o", dvd}), 0);
    ::testing::internal::GetCapturedStderr();
    testing::check_reader_accepts(dvd, 1);
    testing::check_reader_accepts_backups(dvd, 1);
    Player player(dvd);
    ASSERT_TRUE(player.nav());
    ASSERT_TRUE(player.play_until_menu(dvdnav_is_domain_vtsm, 1));
    ASSERT_EQ(dvdnav_button_select_and_activate(player.nav(), player.pci(), 1), DVDNAV_STATUS_OK);
    EXPECT_TRUE(player.play_until_title());
}

// A first-play program that names the manager's menu takes the player into it, by number or
// as the title menu, and the menu's button then plays the title.
TEST(MenuDisc, FirstPlayJumpsIntoTheTableOfContentsMenu) {
    TempDir work;
    const std::string menu = testing::make_clip(work.path(), "menu.vob", 2, "-target pal-dvd -g 12");
    const std::string a = testing::make_clip(work.path(), "a.vob", 2, "-target pal-dvd -g 12");
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {
        {"jump vmgm menu 1;", {0x30, 0x06, 0x00, 0x01, 0x00, 0xC0, 0x00, 0x00}},
        {"jump vmgm menu;", {0x30, 0x06, 0x00, 0x00, 0x00, 0x42, 0x00, 0x00}},
    };
    for (const auto& [commands, expected] : cases) {
        SCOPED_TRACE(commands);
        const std::string dvd = work / ("DVD-" + std::to_string(expected[5]));
        ::testing::internal::CaptureStderr();
        ASSERT_EQ(testing::run_discforge({"-o", dvd, "-f", a}), 0);
        ASSERT_EQ(testing::run_discforge({"-T", "-o", dvd, std::string("--fpc=") + commands, "-m", "-f", menu, "-b",
                                          "jump title 1;"}),
                  0);
        ::testing::internal::GetCapturedStderr();
        testing::check_reader_accepts(dvd, 1);

        const InformationFile manager(dvd, 0);
        ASSERT_TRUE(manager.ifo() && manager.ifo()->first_play_pgc);
        const pgc_command_tbl_t* table = manager.ifo()->first_play_pgc->command_tbl;
        ASSERT_TRUE(table && table->nr_of_pre == 1);
        EXPECT_EQ(std::vector<uint8_t>(table->pre_cmds[0].bytes, table->pre_cmds[0].bytes + 8), expected);

        Player player(dvd);
        ASSERT_TRUE(player.nav());
        ASSERT_TRUE(player.play_until_menu(dvdnav_is_domain_vmgm, 1));
        ASSERT_EQ(dvdnav_button_select_and_activate(player.nav(), player.pci(), 1), DVDNAV_STATUS_OK);
        player.expect_playing(1, 1);
    }
}

// The cell that a libdvdnav player is in when it first meets a still, playing title `title`
// from its start; 0 when it meets none. `cells` receives every cell it entered.
int cell_of_first_still(const std::string& dvd, int32_t title, std::vector<int>& cells) {
    Player player(dvd);
    if (!player.nav() || dvdnav_title_play(player.nav(), title) != DVDNAV_STATUS_OK) return 0;
    uint8_t block[DVD_VIDEO_LB_LEN];
    for (int budget = 20000; budget > 0; --budget) {
        int event = 0, length = 0;
        if (dvdnav_get_next_block(player.nav(), block, &event, &length) != DVDNAV_STATUS_OK) return 0;
        if (event == DVDNAV_CELL_CHANGE)
            cells.push_back(reinterpret_cast<dvdnav_cell_change_event_t*>(block)->cellN);
        if (event == DVDNAV_WAIT) dvdnav_wait_skip(player.nav());
        if (event == DVDNAV_STILL_FRAME) return cells.empty() ? 0 : cells.back();
        if (event == DVDNAV_STOP) return 0;
    }
    return 0;
}

// Title 1's chapter marks cut the VOB it shares with title 2 into four cells; title 2's one cell
// then spans all four, and its closing still belongs after the last of them only.
TEST(MenuDisc, StillOfACellSplitByAnotherTitlesMarksHoldsAtItsEnd) {
    TempDir work;
    const std::string a = testing::make_clip(work.path(), "a.vob", 4, "-target pal-dvd -g 12");
    const std::string dvd = work / "DVD";
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(testing::run_discforge({"-o", dvd, "-c", "0,1,2,3", "-f", a, "-t", "-f", a}), 0);
    ASSERT_EQ(testing::run_discforge({"-T", "-o", dvd}), 0);
    ::testing::internal::GetCapturedStderr();
    testing::check_reader_accepts(dvd, 1);

    const InformationFile titleset(dvd, 1);
    ASSERT_TRUE(titleset.ifo() && titleset.ifo()->vts_pgcit);
    ASSERT_EQ(titleset.ifo()->vts_pgcit->nr_of_pgci_srp, 2);
    const pgc_t* second = titleset.ifo()->vts_pgcit->pgci_srp[1].pgc;
    std::vector<int> still_times;
    for (int c = 0; c < second->nr_of_cells; ++c) still_times.push_back(second->cell_playback[c].still_time);
    EXPECT_EQ(still_times, (std::vector<int>{0, 0, 0, 255}));

    std::vector<int> cells;
    EXPECT_EQ(cell_of_first_still(dvd, 2, cells), 4);
    EXPECT_EQ(cells, (std::vector<int>{1, 2, 3, 4}));
}

// From the table of contents a chapter can be reached only through its titleset's jumppad.
TEST(MenuDisc, JumppadTakesTheTableOfContentsToAChapterOfEitherTitleset) {
    TempDir work;
    const std::string menu = testing::make_clip(work.path(), "menu.vob", 2, "-target pal-dvd -g 12");
    const std::string a = testing::make_clip(work.path(), "a.vob", 2, "-target pal-dvd -g 12");
    const std::string b = testing::make_clip(work.path(), "b.vob", 2, "-target pal-dvd -g 12");
    const std::string dvd = work / "DVD";
    ::testing::internal::CaptureStderr();
    for (int titleset = 1; titleset <= 2; ++titleset)
        ASSERT_EQ(testing::run_discforge({"--jumppad", "-o", dvd, "-f", a, "-f", b}), 0);
    ASSERT_EQ(testing::run_discforge({"--jumppad", "-T", "-o", dvd, "-m", "-f", menu, "-b", "jump title 1;", "-b",
                                      "jump title 1 chapter 2;", "-b", "jump title 2 chapter 2;"}),
              0);
    ::testing::internal::GetCapturedStderr();
    testing::check_files(dvd, true);
    testing::check_reader_accepts(dvd, 2);
    testing::check_reader_accepts_backups(dvd, 2);
    for (int button : {2, 3}) {
        Player player(dvd);
        ASSERT_TRUE(player.nav());
        ASSERT_TRUE(player.play_until_menu(dvdnav_is_domain_vmgm, 3));
        ASSERT_EQ(dvdnav_button_select_and_activate(player.nav(), player.pci(), button), DVDNAV_STATUS_OK);
        player.expect_playing(button - 1, 2);
    }
}

TEST(MenuDisc, JumppadWithoutMenusStillPlaysTheTitle) {
    TempDir work;
    const std::string a = testing::make_clip(work.path(), "a.vob", 2, "-target pal-dvd -g 12");
    const std::string dvd = work / "DVD";
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(testing::run_discforge({"--jumppad", "-o", dvd, "-f", a}), 0);
    ASSERT_EQ(testing::run_discforge({"--jumppad", "-T", "-o", dvd}), 0);
    ::testing::internal::GetCapturedStderr();
    testing::check_files(dvd);
    testing::check_reader_accepts(dvd, 1);
    testing::check_reader_accepts_backups(dvd, 1);
    Player player(dvd);
    ASSERT_TRUE(player.nav());
    EXPECT_TRUE(player.play_until_title());
}

}  // namespace
}  // namespace author
