// The slot names that a call of an unbridged JNI function reports.
#include "jni_slots.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

using namespace morix::bridge;

TEST(JniSlots, EverySlotIsNamedAtItsPositionInTheTable) {
    EXPECT_EQ(std::string(envSlotName(offsetof(JNINativeInterface_, FindClass) / sizeof(void*))),
              "FindClass");
    EXPECT_EQ(std::string(envSlotName(offsetof(JNINativeInterface_, DefineClass) / sizeof(void*))),
              "DefineClass");
    EXPECT_EQ(std::string(envSlotName(kEnvSlotCount - 1)), "GetModule");
    EXPECT_EQ(std::string(envSlotName(0)), "reserved0");
    EXPECT_EQ(std::string(vmSlotName(offsetof(JNIInvokeInterface_, GetEnv) / sizeof(void*))), "GetEnv");
    EXPECT_EQ(std::string(vmSlotName(kVmSlotCount - 1)), "AttachCurrentThreadAsDaemon");
    EXPECT_EQ(std::string(envSlotName(kEnvSlotCount)), "(no such slot)");
}
