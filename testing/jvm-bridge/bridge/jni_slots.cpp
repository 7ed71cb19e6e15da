#include "jni_slots.h"

#include <array>
#include <cstddef>

namespace morix::bridge {
namespace {

struct SlotName {
    size_t index;
    const char* name;
};

// The compiler checks each name against jni.h, and the position comes from offsetof, not from the order
// of these lists.
#define MORIX_ENV_SLOT(member)                                                                               \
    SlotName {                                                                                               \
        offsetof(JNINativeInterface_, member) / sizeof(void*), #member                                       \
    }
#define MORIX_VM_SLOT(member)                                                                                \
    SlotName {                                                                                               \
        offsetof(JNIInvokeInterface_, member) / sizeof(void*), #member                                       \
    }

constexpr SlotName kEnvSlots[] = {
    MORIX_ENV_SLOT(reserved0),
    MORIX_ENV_SLOT(reserved1),
    MORIX_ENV_SLOT(reserved2),
    MORIX_ENV_SLOT(reserved3),
    MORIX_ENV_SLOT(GetVersion),
    MORIX_ENV_SLOT(DefineClass),
    MORIX_ENV_SLOT(FindClass),
    MORIX_ENV_SLOT(FromReflectedMethod),
    MORIX_ENV_SLOT(FromReflectedField),
    MORIX_ENV_SLOT(ToReflectedMethod),
    MORIX_ENV_SLOT(GetSuperclass),
    MORIX_ENV_SLOT(IsAssignableFrom),
    MORIX_ENV_SLOT(ToReflectedField),
    MORIX_ENV_SLOT(Throw),
    MORIX_ENV_SLOT(ThrowNew),
    MORIX_ENV_SLOT(ExceptionOccurred),
    MORIX_ENV_SLOT(ExceptionDescribe),
    MORIX_ENV_SLOT(ExceptionClear),
    MORIX_ENV_SLOT(FatalError),
    MORIX_ENV_SLOT(PushLocalFrame),
    MORIX_ENV_SLOT(PopLocalFrame),
    MORIX_ENV_SLOT(NewGlobalRef),
    MORIX_ENV_SLOT(DeleteGlobalRef),
    MORIX_ENV_SLOT(DeleteLocalRef),
    MORIX_ENV_SLOT(IsSameObject),
    MORIX_ENV_SLOT(NewLocalRef),
    MORIX_ENV_SLOT(EnsureLocalCapacity),
    MORIX_ENV_SLOT(AllocObject),
    MORIX_ENV_SLOT(NewObject),
    MORIX_ENV_SLOT(NewObjectV),
    MORIX_ENV_SLOT(NewObjectA),
    MORIX_ENV_SLOT(GetObjectClass),
    MORIX_ENV_SLOT(IsInstanceOf),
    MORIX_ENV_SLOT(GetMethodID),
    MORIX_ENV_SLOT(CallObjectMethod),
    MORIX_ENV_SLOT(CallObjectMethodV),
    MORIX_ENV_SLOT(CallObjectMethodA),
    MORIX_ENV_SLOT(CallBooleanMethod),
    MORIX_ENV_SLOT(CallBooleanMethodV),
    MORIX_ENV_SLOT(CallBooleanMethodA),
    MORIX_ENV_SLOT(CallByteMethod),
    MORIX_ENV_SLOT(CallByteMethodV),
    MORIX_ENV_SLOT(CallByteMethodA),
    MORIX_ENV_SLOT(CallCharMethod),
    MORIX_ENV_SLOT(CallCharMethodV),
    MORIX_ENV_SLOT(CallCharMethodA),
    MORIX_ENV_SLOT(CallShortMethod),
    MORIX_ENV_SLOT(CallShortMethodV),
    MORIX_ENV_SLOT(CallShortMethodA),
    MORIX_ENV_SLOT(CallIntMethod),
    MORIX_ENV_SLOT(CallIntMethodV),
    MORIX_ENV_SLOT(CallIntMethodA),
    MORIX_ENV_SLOT(CallLongMethod),
    MORIX_ENV_SLOT(CallLongMethodV),
    MORIX_ENV_SLOT(CallLongMethodA),
    MORIX_ENV_SLOT(CallFloatMethod),
    MORIX_ENV_SLOT(CallFloatMethodV),
    MORIX_ENV_SLOT(CallFloatMethodA),
    MORIX_ENV_SLOT(CallDoubleMethod),
    MORIX_ENV_SLOT(CallDoubleMethodV),
    MORIX_ENV_SLOT(CallDoubleMethodA),
    MORIX_ENV_SLOT(CallVoidMethod),
    MORIX_ENV_SLOT(CallVoidMethodV),
    MORIX_ENV_SLOT(CallVoidMethodA),
    MORIX_ENV_SLOT(CallNonvirtualObjectMethod),
    MORIX_ENV_SLOT(CallNonvirtualObjectMethodV),
    MORIX_ENV_SLOT(CallNonvirtualObjectMethodA),
    MORIX_ENV_SLOT(CallNonvirtualBooleanMethod),
    MORIX_ENV_SLOT(CallNonvirtualBooleanMethodV),
    MORIX_ENV_SLOT(CallNonvirtualBooleanMethodA),
    MORIX_ENV_SLOT(CallNonvirtualByteMethod),
    MORIX_ENV_SLOT(CallNonvirtualByteMethodV),
    MORIX_ENV_SLOT(CallNonvirtualByteMethodA),
    MORIX_ENV_SLOT(CallNonvirtualCharMethod),
    MORIX_ENV_SLOT(CallNonvirtualCharMethodV),
    MORIX_ENV_SLOT(CallNonvirtualCharMethodA),
    MORIX_ENV_SLOT(CallNonvirtualShortMethod),
    MORIX_ENV_SLOT(CallNonvirtualShortMethodV),
    MORIX_ENV_SLOT(CallNonvirtualShortMethodA),
    MORIX_ENV_SLOT(CallNonvirtualIntMethod),
    MORIX_ENV_SLOT(CallNonvirtualIntMethodV),
    MORIX_ENV_SLOT(CallNonvirtualIntMethodA),
    MORIX_ENV_SLOT(CallNonvirtualLongMethod),
    MORIX_ENV_SLOT(CallNonvirtualLongMethodV),
    MORIX_ENV_SLOT(CallNonvirtualLongMethodA),
    MORIX_ENV_SLOT(CallNonvirtualFloatMethod),
    MORIX_ENV_SLOT(CallNonvirtualFloatMethodV),
    MORIX_ENV_SLOT(CallNonvirtualFloatMethodA),
    MORIX_ENV_SLOT(CallNonvirtualDoubleMethod),
    MORIX_ENV_SLOT(CallNonvirtualDoubleMethodV),
    MORIX_ENV_SLOT(CallNonvirtualDoubleMethodA),
    MORIX_ENV_SLOT(CallNonvirtualVoidMethod),
    MORIX_ENV_SLOT(CallNonvirtualVoidMethodV),
    MORIX_ENV_SLOT(CallNonvirtualVoidMethodA),
    MORIX_ENV_SLOT(GetFieldID),
    MORIX_ENV_SLOT(GetObjectField),
    MORIX_ENV_SLOT(GetBooleanField),
    MORIX_ENV_SLOT(GetByteField),
    MORIX_ENV_SLOT(GetCharField),
    MORIX_ENV_SLOT(GetShortField),
    MORIX_ENV_SLOT(GetIntField),
    MORIX_ENV_SLOT(GetLongField),
    MORIX_ENV_SLOT(GetFloatField),
    MORIX_ENV_SLOT(GetDoubleField),
    MORIX_ENV_SLOT(SetObjectField),
    MORIX_ENV_SLOT(SetBooleanField),
    MORIX_ENV_SLOT(SetByteField),
    MORIX_ENV_SLOT(SetCharField),
    MORIX_ENV_SLOT(SetShortField),
    MORIX_ENV_SLOT(SetIntField),
    MORIX_ENV_SLOT(SetLongField),
    MORIX_ENV_SLOT(SetFloatField),
    MORIX_ENV_SLOT(SetDoubleField),
    MORIX_ENV_SLOT(GetStaticMethodID),
    MORIX_ENV_SLOT(CallStaticObjectMethod),
    MORIX_ENV_SLOT(CallStaticObjectMethodV),
    MORIX_ENV_SLOT(CallStaticObjectMethodA),
    MORIX_ENV_SLOT(CallStaticBooleanMethod),
    MORIX_ENV_SLOT(CallStaticBooleanMethodV),
    MORIX_ENV_SLOT(CallStaticBooleanMethodA),
    MORIX_ENV_SLOT(CallStaticByteMethod),
    MORIX_ENV_SLOT(CallStaticByteMethodV),
    MORIX_ENV_SLOT(CallStaticByteMethodA),
    MORIX_ENV_SLOT(CallStaticCharMethod),
    MORIX_ENV_SLOT(CallStaticCharMethodV),
    MORIX_ENV_SLOT(CallStaticCharMethodA),
    MORIX_ENV_SLOT(CallStaticShortMethod),
    MORIX_ENV_SLOT(CallStaticShortMethodV),
    MORIX_ENV_SLOT(CallStaticShortMethodA),
    MORIX_ENV_SLOT(CallStaticIntMethod),
    MORIX_ENV_SLOT(CallStaticIntMethodV),
    MORIX_ENV_SLOT(CallStaticIntMethodA),
    MORIX_ENV_SLOT(CallStaticLongMethod),
    MORIX_ENV_SLOT(CallStaticLongMethodV),
    MORIX_ENV_SLOT(CallStaticLongMethodA),
    MORIX_ENV_SLOT(CallStaticFloatMethod),
    MORIX_ENV_SLOT(CallStaticFloatMethodV),
    MORIX_ENV_SLOT(CallStaticFloatMethodA),
    MORIX_ENV_SLOT(CallStaticDoubleMethod),
    MORIX_ENV_SLOT(CallStaticDoubleMethodV),
    MORIX_ENV_SLOT(CallStaticDoubleMethodA),
    MORIX_ENV_SLOT(CallStaticVoidMethod),
    MORIX_ENV_SLOT(CallStaticVoidMethodV),
    MORIX_ENV_SLOT(CallStaticVoidMethodA),
    MORIX_ENV_SLOT(GetStaticFieldID),
    MORIX_ENV_SLOT(GetStaticObjectField),
    MORIX_ENV_SLOT(GetStaticBooleanField),
    MORIX_ENV_SLOT(GetStaticByteField),
    MORIX_ENV_SLOT(GetStaticCharField),
    MORIX_ENV_SLOT(GetStaticShortField),
    MORIX_ENV_SLOT(GetStaticIntField),
    MORIX_ENV_SLOT(GetStaticLongField),
    MORIX_ENV_SLOT(GetStaticFloatField),
    MORIX_ENV_SLOT(GetStaticDoubleField),
    MORIX_ENV_SLOT(SetStaticObjectField),
    MORIX_ENV_SLOT(SetStaticBooleanField),
    MORIX_ENV_SLOT(SetStaticByteField),
    MORIX_ENV_SLOT(SetStaticCharField),
    MORIX_ENV_SLOT(SetStaticShortField),
    MORIX_ENV_SLOT(SetStaticIntField),
    MORIX_ENV_SLOT(SetStaticLongField),
    MORIX_ENV_SLOT(SetStaticFloatField),
    MORIX_ENV_SLOT(SetStaticDoubleField),
    MORIX_ENV_SLOT(NewString),
    MORIX_ENV_SLOT(GetStringLength),
    MORIX_ENV_SLOT(GetStringChars),
    MORIX_ENV_SLOT(ReleaseStringChars),
    MORIX_ENV_SLOT(NewStringUTF),
    MORIX_ENV_SLOT(GetStringUTFLength),
    MORIX_ENV_SLOT(GetStringUTFChars),
    MORIX_ENV_SLOT(ReleaseStringUTFChars),
    MORIX_ENV_SLOT(GetArrayLength),
    MORIX_ENV_SLOT(NewObjectArray),
    MORIX_ENV_SLOT(GetObjectArrayElement),
    MORIX_ENV_SLOT(SetObjectArrayElement),
    MORIX_ENV_SLOT(NewBooleanArray),
    MORIX_ENV_SLOT(NewByteArray),
    MORIX_ENV_SLOT(NewCharArray),
    MORIX_ENV_SLOT(NewShortArray),
    MORIX_ENV_SLOT(NewIntArray),
    MORIX_ENV_SLOT(NewLongArray),
    MORIX_ENV_SLOT(NewFloatArray),
    MORIX_ENV_SLOT(NewDoubleArray),
    MORIX_ENV_SLOT(GetBooleanArrayElements),
    MORIX_ENV_SLOT(GetByteArrayElements),
    MORIX_ENV_SLOT(GetCharArrayElements),
    MORIX_ENV_SLOT(GetShortArrayElements),
    MORIX_ENV_SLOT(GetIntArrayElements),
    MORIX_ENV_SLOT(GetLongArrayElements),
    MORIX_ENV_SLOT(GetFloatArrayElements),
    MORIX_ENV_SLOT(GetDoubleArrayElements),
    MORIX_ENV_SLOT(ReleaseBooleanArrayElements),
    MORIX_ENV_SLOT(ReleaseByteArrayElements),
    MORIX_ENV_SLOT(ReleaseCharArrayElements),
    MORIX_ENV_SLOT(ReleaseShortArrayElements),
    MORIX_ENV_SLOT(ReleaseIntArrayElements),
    MORIX_ENV_SLOT(ReleaseLongArrayElements),
    MORIX_ENV_SLOT(ReleaseFloatArrayElements),
    MORIX_ENV_SLOT(ReleaseDoubleArrayElements),
    MORIX_ENV_SLOT(GetBooleanArrayRegion),
    MORIX_ENV_SLOT(GetByteArrayRegion),
    MORIX_ENV_SLOT(GetCharArrayRegion),
    MORIX_ENV_SLOT(GetShortArrayRegion),
    MORIX_ENV_SLOT(GetIntArrayRegion),
    MORIX_ENV_SLOT(GetLongArrayRegion),
    MORIX_ENV_SLOT(GetFloatArrayRegion),
    MORIX_ENV_SLOT(GetDoubleArrayRegion),
    MORIX_ENV_SLOT(SetBooleanArrayRegion),
    MORIX_ENV_SLOT(SetByteArrayRegion),
    MORIX_ENV_SLOT(SetCharArrayRegion),
    MORIX_ENV_SLOT(SetShortArrayRegion),
    MORIX_ENV_SLOT(SetIntArrayRegion),
    MORIX_ENV_SLOT(SetLongArrayRegion),
    MORIX_ENV_SLOT(SetFloatArrayRegion),
    MORIX_ENV_SLOT(SetDoubleArrayRegion),
    MORIX_ENV_SLOT(RegisterNatives),
    MORIX_ENV_SLOT(UnregisterNatives),
    MORIX_ENV_SLOT(MonitorEnter),
    MORIX_ENV_SLOT(MonitorExit),
    MORIX_ENV_SLOT(GetJavaVM),
    MORIX_ENV_SLOT(GetStringRegion),
    MORIX_ENV_SLOT(GetStringUTFRegion),
    MORIX_ENV_SLOT(GetPrimitiveArrayCritical),
    MORIX_ENV_SLOT(ReleasePrimitiveArrayCritical),
    MORIX_ENV_SLOT(GetStringCritical),
    MORIX_ENV_SLOT(ReleaseStringCritical),
    MORIX_ENV_SLOT(NewWeakGlobalRef),
    MORIX_ENV_SLOT(DeleteWeakGlobalRef),
    MORIX_ENV_SLOT(ExceptionCheck),
    MORIX_ENV_SLOT(NewDirectByteBuffer),
    MORIX_ENV_SLOT(GetDirectBufferAddress),
    MORIX_ENV_SLOT(GetDirectBufferCapacity),
    MORIX_ENV_SLOT(GetObjectRefType),
    MORIX_ENV_SLOT(GetModule),
};

constexpr SlotName kVmSlots[] = {
    MORIX_VM_SLOT(reserved0),
    MORIX_VM_SLOT(reserved1),
    MORIX_VM_SLOT(reserved2),
    MORIX_VM_SLOT(DestroyJavaVM),
    MORIX_VM_SLOT(AttachCurrentThread),
    MORIX_VM_SLOT(DetachCurrentThread),
    MORIX_VM_SLOT(GetEnv),
    MORIX_VM_SLOT(AttachCurrentThreadAsDaemon),
};

template <size_t Count, size_t ListSize>
constexpr std::array<const char*, Count> byIndex(const SlotName (&slots)[ListSize]) {
    std::array<const char*, Count> names{};
    for (const SlotName& slot : slots) {
        names[slot.index] = slot.name;
    }
    return names;
}

template <size_t Count>
constexpr bool complete(const std::array<const char*, Count>& names) {
    for (const char* name : names) {
        if (name == nullptr) {
            return false;
        }
    }
    return true;
}

constexpr auto kEnvNames = byIndex<kEnvSlotCount>(kEnvSlots);
constexpr auto kVmNames = byIndex<kVmSlotCount>(kVmSlots);
static_assert(complete(kEnvNames), "every slot of the JNI function table needs its name");
static_assert(complete(kVmNames), "every slot of the invocation table needs its name");

} // namespace

const char* envSlotName(size_t index) {
    return index < kEnvSlotCount ? kEnvNames[index] : "(no such slot)";
}

const char* vmSlotName(size_t index) {
    return index < kVmSlotCount ? kVmNames[index] : "(no such slot)";
}

} // namespace morix::bridge
