#include "Tools/Storeset_7_1/Storeset71.h"

#include <boost/format.hpp>
#include <exception>
#include <new>

#include "Tools/Storeset_7_1/DbAdopter.h"
#include "CommonBase/HResultException.h"
#include "Tools/Storeset_7_1/Parameters.h"
#include "winplat/console.h"

namespace storeset71 {
namespace {

int failed(HRESULT hr, const char* text) {
    winplat::console::writeErrNarrow(str(boost::format("\nError occurred: %s\n") % text));
    return hr;
}

}  // namespace

int main(int argc, char** argv) {
    Parameters parameters;
    switch (parameters.parse(argc, argv)) {
        case Parameters::Help:
            Parameters::printUsage();
            return 0;
        case Parameters::Error:
            winplat::console::writeErrNarrow("Error in command line.\n\n");
            Parameters::printUsage();
            return E_INVALIDARG;
        default:
            break;
    }
    // Whatever is raised, the adoption has unwound (MAPI uninitialised,
    // everything released) before it is reported; no failure exits as success.
    try {
        DbAdopter adopter;
        adopter.execute(parameters);
        winplat::console::writeOutNarrow("\nok\n");
        return 0;
    } catch (const HResultException& e) {
        return failed(e.getHResult(), e.what());
    } catch (const std::bad_alloc& e) {
        return failed(E_OUTOFMEMORY, e.what());
    } catch (const std::exception& e) {
        return failed(E_FAIL, e.what());
    } catch (...) {
        return failed(E_FAIL, "unknown exception");
    }
}

}  // namespace storeset71
