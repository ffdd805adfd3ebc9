// libFibrex.so exports its published members and what the C++ ABI needs for
// them, and nothing else.
#include <gtest/gtest.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string demangle(const std::string& name) {
    int status = 0;
    char* text = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    std::string result = text ? text : name;
    std::free(text);
    return result;
}

// The defined symbols of the library's dynamic symbol table.
std::vector<std::string> exportedSymbols() {
    const std::string command = std::string("nm -D --defined-only '") + FIBREX_LIBRARY + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::vector<std::string> names;
    if (!pipe) {
        ADD_FAILURE() << "cannot run: " << command;
        return names;
    }
    char line[4096];
    while (fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) {
            names.push_back(name);
        } else {
            ADD_FAILURE() << "unexpected nm output: " << line;
        }
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    std::sort(names.begin(), names.end());
    return names;
}

const std::string kString = "std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >";

// Mangled name and what it reads as; constructors and destructors appear once
// per variant (complete, base, and for the virtual destructor deleting).
const std::vector<std::pair<std::string, std::string>> kExpected = {
    {"_ZN6ThreadC1EbRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
     "Thread::Thread(bool, " + kString + " const&)"},
    {"_ZN6ThreadC2EbRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE",
     "Thread::Thread(bool, " + kString + " const&)"},
    {"_ZN6ThreadD0Ev", "Thread::~Thread()"},
    {"_ZN6ThreadD1Ev", "Thread::~Thread()"},
    {"_ZN6ThreadD2Ev", "Thread::~Thread()"},
    {"_ZN6Thread6createEv", "Thread::create()"},
    {"_ZN6Thread15duplicateHandleEPv", "Thread::duplicateHandle(void*)"},
    {"_ZNK6Thread9getHandleEv", "Thread::getHandle() const"},
    {"_ZNK6Thread5getIdEv", "Thread::getId() const"},
    {"_ZNK6Thread7getLockEv", "Thread::getLock() const"},
    {"_ZNK6Thread11getPriorityEv", "Thread::getPriority() const"},
    {"_ZNK6Thread19getTerminationEventEv", "Thread::getTerminationEvent() const"},
    {"_ZNK6Thread15getThreadResultEv", "Thread::getThreadResult() const"},
    {"_ZNK6Thread17isFreeOnTerminateEv", "Thread::isFreeOnTerminate() const"},
    {"_ZNK6Thread11isSuspendedEv", "Thread::isSuspended() const"},
    {"_ZNK6Thread12isTerminatedEv", "Thread::isTerminated() const"},
    {"_ZN6Thread18registerFinalEventEv", "Thread::registerFinalEvent()"},
    {"_ZN6Thread6resumeEv", "Thread::resume()"},
    {"_ZN6Thread3runEv", "Thread::run()"},
    {"_ZN6Thread18setFreeOnTerminateEb", "Thread::setFreeOnTerminate(bool)"},
    {"_ZN6Thread11setPriorityEi", "Thread::setPriority(int)"},
    {"_ZN6Thread12setSuspendedEb", "Thread::setSuspended(bool)"},
    {"_ZN6Thread13setTerminatedEb", "Thread::setTerminated(bool)"},
    {"_ZN6Thread15setThreadResultEj", "Thread::setThreadResult(unsigned int)"},
    {"_ZN6Thread8shutDownEv", "Thread::shutDown()"},
    {"_ZN6Thread7suspendEv", "Thread::suspend()"},
    {"_ZN6Thread7waitForEv", "Thread::waitFor()"},
    {"_ZTV6Thread", "vtable for Thread"},
    {"_ZTI6Thread", "typeinfo for Thread"},
    {"_ZTS6Thread", "typeinfo name for Thread"},
    {"_ZN24ThreadLocalStorageHelperC1Ev", "ThreadLocalStorageHelper::ThreadLocalStorageHelper()"},
    {"_ZN24ThreadLocalStorageHelperC2Ev", "ThreadLocalStorageHelper::ThreadLocalStorageHelper()"},
    {"_ZN24ThreadLocalStorageHelperC1ERKS_",
     "ThreadLocalStorageHelper::ThreadLocalStorageHelper(ThreadLocalStorageHelper const&)"},
    {"_ZN24ThreadLocalStorageHelperC2ERKS_",
     "ThreadLocalStorageHelper::ThreadLocalStorageHelper(ThreadLocalStorageHelper const&)"},
    {"_ZN24ThreadLocalStorageHelperD1Ev", "ThreadLocalStorageHelper::~ThreadLocalStorageHelper()"},
    {"_ZN24ThreadLocalStorageHelperD2Ev", "ThreadLocalStorageHelper::~ThreadLocalStorageHelper()"},
    {"_ZN24ThreadLocalStorageHelperaSERKS_",
     "ThreadLocalStorageHelper::operator=(ThreadLocalStorageHelper const&)"},
    {"_ZN24ThreadLocalStorageHelper12clearIndexesEv", "ThreadLocalStorageHelper::clearIndexes()"},
    {"_ZN24ThreadLocalStorageHelper12fillKeyValueERK4GUIDPv",
     "ThreadLocalStorageHelper::fillKeyValue(GUID const&, void*)"},
    {"_ZN24ThreadLocalStorageHelper12fillMyThreadEv", "ThreadLocalStorageHelper::fillMyThread()"},
    {"_ZN24ThreadLocalStorageHelper11getKeyValueERK4GUID",
     "ThreadLocalStorageHelper::getKeyValue(GUID const&)"},
    {"_ZN24ThreadLocalStorageHelper10isMyThreadEv", "ThreadLocalStorageHelper::isMyThread()"},
    {"_ZN24ThreadLocalStorageHelper13resetKeyValueERK4GUID",
     "ThreadLocalStorageHelper::resetKeyValue(GUID const&)"},
    {"_Z24threadLocalStorageHelperv", "threadLocalStorageHelper()"},
    {"_ZGVZ24threadLocalStorageHelpervE36__safeStaticInner_threadLocalStorage",
     "guard variable for threadLocalStorageHelper()::__safeStaticInner_threadLocalStorage"},
    {"_ZZ24threadLocalStorageHelpervE36__safeStaticInner_threadLocalStorage",
     "threadLocalStorageHelper()::__safeStaticInner_threadLocalStorage"},
    {"_ZZ24threadLocalStorageHelpervE34__safeStaticPtr_threadLocalStorage",
     "threadLocalStorageHelper()::__safeStaticPtr_threadLocalStorage"},
};

TEST(FibrexExportsTest, ExactlyThePublishedMembersAreExported) {
    std::vector<std::string> expectedDemangled;
    for (const auto& [mangled, readable] : kExpected) {
        EXPECT_EQ(demangle(mangled), readable);
        expectedDemangled.push_back(readable);
    }
    std::sort(expectedDemangled.begin(), expectedDemangled.end());

    const std::vector<std::string> exported = exportedSymbols();
    std::vector<std::string> exportedDemangled;
    for (const std::string& name : exported) {
        exportedDemangled.push_back(demangle(name));
    }
    std::sort(exportedDemangled.begin(), exportedDemangled.end());
    EXPECT_EQ(exportedDemangled, expectedDemangled);

    std::vector<std::string> expectedMangled;
    for (const auto& entry : kExpected) {
        expectedMangled.push_back(entry.first);
    }
    std::sort(expectedMangled.begin(), expectedMangled.end());
    EXPECT_EQ(exported, expectedMangled);
}

}  // namespace
