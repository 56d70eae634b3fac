// Cell and program marking over scanned models built by hand.

#include "author/cell_marking.h"
#include "scan_fixtures.h"

namespace author::scan_test {
namespace {

constexpr int32_t kUnit = kSecond / 2;  // every VOB unit lasts half a second
constexpr int32_t kBase = 1000;         // the first VOB unit's start

struct CellSpec {
    double start;  // seconds
    double end;    // seconds; negative = to the end
    int kind = kCellChapter;
};

class CellMarkingTest : public ScanTest {
protected:
    VobGroup* group = nullptr;

    void SetUp() override {
        ScanTest::SetUp();
        group = vob_group_create();
    }

    Vob* add_vob(int vobus) {
        Vob* vob = engine().create<Vob>();
        vob->vob_id = static_cast<int>(group->vobs.size()) + 1;
        vob->file_name = "clip" + std::to_string(vob->vob_id) + ".vob";
        for (int i = 0; i < vobus; ++i) {
            Vobu v;
            v.sector = i * 10;
            v.last_sector = i * 10 + 9;
            v.pts[0] = kBase + i * kUnit;
            v.pts[1] = kBase + (i + 1) * kUnit;
            v.has_video = 1;
            vob->vobus.push_back(v);
        }
        group->vobs.push_back(vob);
        return vob;
    }

    Pgc* add_pgc(std::initializer_list<std::pair<Vob*, std::vector<CellSpec>>> sources) {
        Pgc* pgc = pgc_create();
        for (const auto& [vob, cells] : sources) {
            PgcSource* source = source_create();
            source->file_name = vob->file_name;
            source->vob = vob;
            for (const CellSpec& c : cells) source_add_cell(source, c.start, c.end, c.kind, 0, nullptr);
            pgc->sources.push_back(source);
        }
        group->pgcs.push_back(pgc);
        return pgc;
    }

    std::string mark() {
        ::testing::internal::CaptureStderr();
        assign_programs_and_cells(*group);
        return ::testing::internal::GetCapturedStderr();
    }
};

std::pair<int, int> numbers(const Pgc* pgc, int source, int cell) {
    const Cell& c = pgc->sources[source]->cells[cell];
    return {c.first_cell, c.end_cell};
}

TEST_F(CellMarkingTest, OneChapterOverAWholeSource) {
    Vob* vob = add_vob(40);
    Pgc* pgc = add_pgc({{vob, {{0, -1}}}});
    mark();
    EXPECT_EQ(numbers(pgc, 0, 0), std::make_pair(1, 2));
    EXPECT_EQ(pgc->cell_count, 1);
    EXPECT_EQ(pgc->program_count, 1);
    EXPECT_EQ(pgc->chapter_count, 1);
    EXPECT_EQ(vob->cell_count, 1);
    for (const Vobu& v : vob->vobus) {
        EXPECT_EQ(v.cell_id, 0x101);
        EXPECT_EQ(v.cell_first_vobu, 0);
        EXPECT_EQ(v.cell_last_vobu, 39);
    }
}

TEST_F(CellMarkingTest, MarksSnapToTheNearestVobuStart) {
    struct Case {
        const char* what;
        double start, end;
        std::pair<int, int> expected;  // cell numbers
        int first_vobu;                // of the cell's first DVD cell
    } cases[] = {
        {"on a unit start", 1.0, 3.0, {2, 3}, 2},
        {"halfway: the earlier unit", 1.25, 3.0, {2, 3}, 2},
        {"past halfway: the later unit", 1.26, 3.0, {2, 3}, 3},
        {"before the first unit", -0.5, 3.0, {1, 2}, 0},
        {"at the end of the last unit", 5.0, -1, {2, 2}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        engine_reset(nullptr, nullptr);
        group = vob_group_create();
        Vob* vob = add_vob(10);  // 5 seconds
        Pgc* pgc = add_pgc({{vob, {{c.start, c.end}}}});
        mark();
        EXPECT_EQ(numbers(pgc, 0, 0), c.expected);
        if (c.first_vobu >= 0) {
            EXPECT_EQ(vob->vobus[c.first_vobu].cell_first_vobu, c.first_vobu);
            EXPECT_EQ(vob->vobus[c.first_vobu].cell_id % 256, c.expected.first);
        }
    }
}

TEST_F(CellMarkingTest, ConsecutiveCellsShareTheirBoundary) {
    Vob* vob = add_vob(40);
    vob->vobus[20].fields_before_first = 1;  // an open GOP at 10 s
    Pgc* pgc = add_pgc({{vob, {{0, 10}, {10, -1}}}});
    const std::string log = mark();
    EXPECT_EQ(numbers(pgc, 0, 0), std::make_pair(1, 2));
    EXPECT_EQ(numbers(pgc, 0, 1), std::make_pair(2, 3));
    EXPECT_EQ(vob->vobus[19].cell_last_vobu, 19);
    EXPECT_EQ(vob->vobus[20].cell_id, 0x102);
    EXPECT_EQ(vob->vobus[20].cell_first_vobu, 20);
    // The second cell starts where the first ended: no open-GOP warning for it.
    EXPECT_EQ(log.find("GOP is not closed"), std::string::npos) << log;
}

TEST_F(CellMarkingTest, OpenGopAtACellStartWarns) {
    Vob* vob = add_vob(40);
    vob->vobus[20].fields_before_first = 1;
    add_pgc({{vob, {{10, -1}}}});
    EXPECT_NE(mark().find("WARN: GOP is not closed on cell 1 of source clip1.vob of pgc 1\n"),
              std::string::npos);
}

TEST_F(CellMarkingTest, MarksPastTheEndOfTheFileWarn) {
    Vob* vob = add_vob(10);  // 5 seconds
    Pgc* pgc = add_pgc({{vob, {{0, 3}, {3, 7.5}, {7.5, -1}}}});
    const std::string log = mark();
    EXPECT_EQ(pgc->chapter_count, 2);
    EXPECT_NE(log.find("WARN: Chapter mark at 7.500 s lies past the end of clip1.vob (5.000 s); it is left out\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("mark at 3.000"), std::string::npos) << log;
}

TEST_F(CellMarkingTest, CellKindsDecidePrograms) {
    Vob* vob = add_vob(40);
    Pgc* pgc = add_pgc({{vob, {{0, 5, kCellChapter}, {5, 10, kCellPlain}, {10, 15, kCellProgram},
                               {15, 15, kCellChapter}, {15, -1, kCellChapter}}}});
    mark();
    EXPECT_EQ(pgc->cell_count, 4);     // the empty cell adds nothing
    EXPECT_EQ(pgc->program_count, 3);  // plain adds no program
    EXPECT_EQ(pgc->chapter_count, 2);  // program adds no chapter
}

TEST_F(CellMarkingTest, AnotherPgcsMarkSplitsACellIntoTwoDvdCells) {
    Vob* vob = add_vob(40);
    Pgc* whole = add_pgc({{vob, {{0, -1}}}});
    Pgc* part = add_pgc({{vob, {{5, -1}}}});
    mark();
    EXPECT_EQ(numbers(whole, 0, 0), std::make_pair(1, 3));
    EXPECT_EQ(whole->cell_count, 2);
    EXPECT_EQ(whole->program_count, 1);
    EXPECT_EQ(numbers(part, 0, 0), std::make_pair(2, 3));
}

// n half-second cells from the start of a 150-second Vob make n + 1 DVD cells.
std::vector<CellSpec> short_cells(int n) {
    std::vector<CellSpec> cells;
    for (int i = 0; i < n; ++i) cells.push_back({i * 0.5, i * 0.5 + 0.5, kCellPlain});
    return cells;
}

TEST_F(CellMarkingTest, VobCellLimitIsAnError) {
    Vob* vob = add_vob(300);
    add_pgc({{vob, short_cells(254)}});
    mark();
    EXPECT_EQ(vob->cell_count, 255);
    EXPECT_EQ(vob->vobus.back().cell_id, 0x1FF);

    engine_reset(nullptr, nullptr);
    group = vob_group_create();
    add_pgc({{add_vob(300), short_cells(255)}});
    expect_fatal([&] { assign_programs_and_cells(*group); },
                 "ERR:  VOB clip1.vob has too many cells (256, 256 allowed)");
}

TEST_F(CellMarkingTest, PgcCellLimitIsAnError) {
    // 200 cells in each of two Vobs: the Vobs are fine, the Pgc over both is not.
    add_pgc({{add_vob(300), short_cells(200)}, {add_vob(300), short_cells(200)}});
    expect_fatal([&] { assign_programs_and_cells(*group); },
                 "ERR:  PGC 1 has too many cells (256, 256 allowed)");
}

TEST_F(CellMarkingTest, CellThatEndsBeforeItStartsIsAnError) {
    add_pgc({{add_vob(40), {{10, 5}}}});
    expect_fatal([&] { assign_programs_and_cells(*group); },
                 "ERR:  Cell 1 of source clip1.vob of pgc 1 ends before it starts");
}

TEST_F(CellMarkingTest, VobWithoutVobusGivesAnEmptyCell) {
    Vob* empty = add_vob(0);
    Pgc* pgc = add_pgc({{empty, {{0, -1}, {2, 4}}}});
    mark();
    EXPECT_EQ(numbers(pgc, 0, 0), std::make_pair(1, 1));
    EXPECT_EQ(numbers(pgc, 0, 1), std::make_pair(1, 1));
    EXPECT_EQ(pgc->cell_count, 0);
    EXPECT_EQ(empty->cell_count, 0);
}

}  // namespace
}  // namespace author::scan_test
