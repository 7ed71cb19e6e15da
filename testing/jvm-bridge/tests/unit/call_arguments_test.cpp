// Descriptors and Windows x64 variadic arguments turned into the jvalue form of a JNI call.
#include "call_arguments.h"

#include <gtest/gtest.h>

using namespace morix::bridge;

namespace {

// A variadic function in the Windows convention, as the Call*Method(...) slots receive their arguments.
__attribute__((ms_abi)) std::vector<jvalue> collect(const char* kinds, ...) {
    __builtin_ms_va_list arguments;
    __builtin_ms_va_start(arguments, kinds);
    std::vector<jvalue> values = readWindowsArguments(kinds, arguments);
    __builtin_ms_va_end(arguments);
    return values;
}

} // namespace

TEST(CallArguments, DescriptorsGiveOneKindPerParameter) {
    EXPECT_EQ(parameterKinds("(IJDFZCSB[Ljava/lang/String;Ljava/lang/String;[[I)V"), "IJDFZCSBLLL");
    EXPECT_EQ(parameterKinds("()V"), "");
    EXPECT_EQ(parameterKinds("()Ljava/lang/String;"), "");
    EXPECT_EQ(parameterKinds("([Ljava/lang/String;)[I"), "L");
    for (const char* malformed :
         {"", "I", "(", "()", "(X)V", "(L;)V", "(I)", "(I)VV", "(I)[", "(Ljava/lang/String)V", "(I)Lx;I"}) {
        EXPECT_FALSE(parameterKinds(malformed).has_value()) << malformed;
    }
}

TEST(CallArguments, EveryKindIsReadFromAWindowsVariadicCall) {
    jobject object = reinterpret_cast<jobject>(0x1234);
    std::vector<jvalue> v =
        collect("IJDFZCSBL", static_cast<jint>(-7), static_cast<long long>(0x123456789ALL), 2.5,
                static_cast<double>(1.25f), JNI_TRUE, 0x263A, -3, 0x7f, object);
    ASSERT_EQ(v.size(), 9u);
    EXPECT_EQ(v[0].i, -7);
    EXPECT_EQ(v[1].j, 0x123456789ALL);
    EXPECT_EQ(v[2].d, 2.5);
    EXPECT_EQ(v[3].f, 1.25f);
    EXPECT_EQ(v[4].z, JNI_TRUE);
    EXPECT_EQ(v[5].c, 0x263A);
    EXPECT_EQ(v[6].s, -3);
    EXPECT_EQ(v[7].b, 0x7f);
    EXPECT_EQ(v[8].l, object);
    EXPECT_TRUE(collect("").empty());
}
