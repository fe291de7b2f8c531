#include <gtest/gtest.h>

#include <sstream>

#include "cli/ConsoleUserInterface.h"
#include "fakes/FakePlatform.h"

TEST(ConsoleAnswers, WithoutAPersonTheFirstChoiceThenTheSecondOnRepeat) {
    std::istringstream In;
    std::ostringstream Out;
    TConsoleUserInterface Console(In, Out, false);
    const std::string Prompt = "Please select the location for the image file";
    EXPECT_EQ(Console.MsgAsk(TQuestion::InsertMedium, Prompt, "OK", "Cancel"), 1);
    EXPECT_EQ(Console.MsgAsk(TQuestion::StopRun, "Do you want to stop the process ?", "Yes", "No"), 1);
    EXPECT_EQ(Console.MsgAsk(TQuestion::InsertMedium, Prompt, "OK", "Cancel"), 2); // the medium failed: give up
    EXPECT_EQ(Console.MsgRetryAbort("Cannot write to drive A:"), 4);
    EXPECT_EQ(Console.MsgRetryAbort("Cannot write to drive A:"), 3);
    EXPECT_NE(Out.str().find(Prompt + " [Cancel]"), std::string::npos);
}

TEST(ConsoleAnswers, APersonAnswersByInitialOrEnter) {
    std::istringstream In("c\n\nmaybe\nNo\n");
    std::ostringstream Out;
    TConsoleUserInterface Console(In, Out, true);
    EXPECT_EQ(Console.MsgAsk(TQuestion::InsertMedium, "Insert\rthe disc", "OK", "Cancel"), 2);
    EXPECT_EQ(Console.MsgAsk(TQuestion::InsertMedium, "Again", "OK", "Cancel"), 1);
    EXPECT_EQ(Console.MsgAsk(TQuestion::StopRun, "Stop?", "Yes", "No"), 2); // "maybe" is asked again
    EXPECT_NE(Out.str().find("Insert\nthe disc"), std::string::npos);
    EXPECT_FALSE(Console.InputClosed());
}

// End of input is a closed box; from then on the rules without a terminal
// hold, so a failing medium ends the run instead of being retried forever.
TEST(ConsoleAnswers, EndOfInputAnswersAsWithoutATerminal) {
    std::istringstream In("");
    std::ostringstream Out;
    TConsoleUserInterface Console(In, Out, true);
    Console.SaveFile = "out.iso";
    const std::string Prompt = "Please select the location for the image file";
    EXPECT_EQ(Console.MsgAsk(TQuestion::InsertMedium, Prompt, "OK", "Cancel"), 1);
    EXPECT_TRUE(Console.InputClosed());
    EXPECT_EQ(Console.ChooseSaveFile("Purgit.ISO", "ISO", "*.ISO"), std::optional<std::string>("out.iso"));
    EXPECT_EQ(Console.ChooseSaveFile("Purgit.ISO", "ISO", "*.ISO"), std::nullopt);
    EXPECT_EQ(Console.MsgAsk(TQuestion::InsertMedium, Prompt, "OK", "Cancel"), 2);
    EXPECT_EQ(Console.MsgAsk(TQuestion::StopRun, "Do you want to stop the process ?", "Yes", "No"), 1);
    EXPECT_EQ(Console.PickSystemFolder(), std::nullopt);
    EXPECT_NE(Out.str().find("(end of input)"), std::string::npos);
}

// A person names another file after a failed save, or none to cancel.
TEST(ConsoleAnswers, APersonNamesAnotherFileAfterAFailedSave) {
    std::istringstream In("second.iso\n\n");
    std::ostringstream Out;
    TConsoleUserInterface Console(In, Out, true);
    Console.SaveFile = "first.iso";
    EXPECT_EQ(Console.ChooseSaveFile("Purgit.ISO", "ISO", "*.ISO"), std::optional<std::string>("first.iso"));
    EXPECT_EQ(Console.ChooseSaveFile("Purgit.ISO", "ISO", "*.ISO"), std::optional<std::string>("second.iso"));
    EXPECT_EQ(Console.ChooseSaveFile("Purgit.ISO", "ISO", "*.ISO"), std::nullopt);
    EXPECT_FALSE(Console.InputClosed());
}

TEST(ConsoleAnswers, TheSaveDialogIsTheCommandLinesFileOnce) {
    std::istringstream In;
    std::ostringstream Out;
    TConsoleUserInterface Console(In, Out, false);
    Console.SaveFile = "out.iso";
    EXPECT_EQ(Console.ChooseSaveFile("Purgit.ISO", "ISO", "*.ISO"), std::optional<std::string>("out.iso"));
    EXPECT_EQ(Console.ChooseSaveFile("Purgit.ISO", "ISO", "*.ISO"), std::nullopt);
}

// On a terminal the picker asks until a folder holds both files; empty input
// cancels.
TEST(ConsoleAnswers, APersonPicksTheSystemFolder) {
    TFakePlatform Machine;
    Machine.Files["/SYS/IO.SYS"] = "io";
    Machine.Files["/SYS/COMMAND.COM"] = "command";
    Machine.Files["/HALF/IO.SYS"] = "io";
    std::istringstream In("/half\n  /sys  \n\n");
    std::ostringstream Out;
    TConsoleUserInterface Console(In, Out, true);
    Console.SystemFolder = "/nowhere/";
    EXPECT_EQ(Console.PickSystemFolder(), std::optional<std::string>("/sys/"));
    EXPECT_EQ(Console.PickSystemFolder(), std::optional<std::string>("/sys/")) << "kept once chosen";
    Console.SystemFolder.clear();
    EXPECT_EQ(Console.PickSystemFolder(), std::nullopt);
    const std::string Text = Out.str();
    size_t Refusals = 0;
    for (size_t At = Text.find("There is no system files."); At != std::string::npos;
         At = Text.find("There is no system files.", At + 1))
        ++Refusals;
    EXPECT_EQ(Refusals, 2u); // the given folder and /half
}

TEST(ConsoleAnswers, ThePickerRefusesAFolderWithoutBothSystemFiles) {
    std::istringstream In;
    std::ostringstream Out;
    TConsoleUserInterface Console(In, Out, false);
    EXPECT_EQ(Console.PickSystemFolder(), std::nullopt); // none given
    Console.SystemFolder = "/nonexistent/";
    EXPECT_EQ(Console.PickSystemFolder(), std::nullopt);
    EXPECT_EQ(Console.LastMessage, "There is no system files.");
}
