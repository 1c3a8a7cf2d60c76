#pragma once

// The AFC client handle, declared as the library declares it, so that headers can name it without
// making every includer parse the library's headers.
typedef struct afc_client_private afc_client_private;
typedef afc_client_private* afc_client_t;
