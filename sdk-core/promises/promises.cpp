#include "sdk-core/promises/promises.h"

namespace Promises {

platform::Error errorObject(PromiseError error) {
  return platform::Error(PRMPromiseErrorDomain, static_cast<long>(error));
}

AnyError typedError(const platform::Error& error) {
  if (error.domain == PRMPromiseErrorDomain) {
    if (error.code == PRMPromiseErrorCodeTimedOut) return PromiseError::timedOut;
    if (error.code == PRMPromiseErrorCodeValidationFailure) return PromiseError::validationFailure;
  }
  return error;
}

platform::Error errorObject(const AnyError& error) {
  if (const auto* promiseError = std::get_if<PromiseError>(&error)) return errorObject(*promiseError);
  return std::get<platform::Error>(error);
}

platform::Error errorFromCurrentException() {
  auto described = [](std::string domain, const char* text) {
    return platform::Error(std::move(domain), 0, {{platform::kErrorLocalizedDescriptionKey, std::string(text)}});
  };
  try {
    throw;
  } catch (const platform::Error& error) {
    return error;
  } catch (PromiseError error) {
    return errorObject(error);
  } catch (const AnyError& error) {
    return errorObject(error);
  } catch (const platform::Exception& exception) {
    return described(exception.name(), exception.reason().c_str());
  } catch (const std::exception& exception) {
    return described(prm_internal::typeName(typeid(exception)), exception.what());
  } catch (...) {
    return described("Promises.UnknownException", "An exception of unknown type was thrown.");
  }
}

}  // namespace Promises
