// The body of a batch request (POST /v1/batches) as a client sends it.
#pragma once

#include <string>

namespace orvoscand {

struct BatchRequest {
    std::string profile;
    int startNumber = 1;
    std::string outputDir;  // empty: the pages stay in the spool only
};

// Reads a request body: a JSON object with "profile" (a name of at most 64
// bytes), "startNumber" (0-9999999, optional) and "outputDir" (a path,
// optional), nothing else. Returns 0 when taken, else the HTTP status of the
// refusal (400 for no JSON object, 422 for a field) with the reason in *error.
int ParseBatchRequest(const std::string& body, BatchRequest* request, std::string* error);

}  // namespace orvoscand
