#include <gtest/gtest.h>

#include <sstream>

#include "cli/ConsoleUserInterface.h"

TEST(ConsoleAnswers, WithoutAPersonTheFirstChoiceThenTheSecondOnRepeat) {
    std::istringstream In;
    std::ostringstream Out;
    TConsoleUserInterface Console(In, Out, false);
    const std::string Prompt = "Please select the location for the image file";
    EXPECT_EQ(Console.MsgAsk(Prompt, "OK", "Cancel"), 1);
    EXPECT_EQ(Console.MsgAsk("Do you want to stop the process ?", "Yes", "No"), 1);
    EXPECT_EQ(Console.MsgAsk(Prompt, "OK", "Cancel"), 2); // the medium failed: give up
    EXPECT_EQ(Console.MsgRetryAbort("Cannot write to drive A:"), 4);
    EXPECT_EQ(Console.MsgRetryAbort("Cannot write to drive A:"), 3);
    EXPECT_NE(Out.str().find(Prompt + " [Cancel]"), std::string::npos);
}

TEST(ConsoleAnswers, APersonAnswersByInitialOrEnter) {
    std::istringstream In("c\n\nmaybe\nNo\n");
    std::ostringstream Out;
    TConsoleUserInterface Console(In, Out, true);
    EXPECT_EQ(Console.MsgAsk("Insert\rthe disc", "OK", "Cancel"), 2);
    EXPECT_EQ(Console.MsgAsk("Again", "OK", "Cancel"), 1);
    EXPECT_EQ(Console.MsgAsk("Stop?", "Yes", "No"), 2); // "maybe" is asked again
    EXPECT_NE(Out.str().find("Insert\nthe disc"), std::string::npos);
    EXPECT_EQ(Console.MsgAsk("End of input", "OK", "Cancel"), 2);
}

TEST(ConsoleAnswers, TheSaveDialogIsTheCommandLinesFileOnce) {
    std::istringstream In;
    std::ostringstream Out;
    TConsoleUserInterface Console(In, Out, false);
    Console.SaveFile = "out.iso";
    EXPECT_EQ(Console.ChooseSaveFile("Purgit.ISO", "ISO", "*.ISO"), std::optional<std::string>("out.iso"));
    EXPECT_EQ(Console.ChooseSaveFile("Purgit.ISO", "ISO", "*.ISO"), std::nullopt);
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
