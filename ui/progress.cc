// Placeholder.
#include "ui/progress.h"
int (*progress_thread_create)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) = pthread_create;
void TransferKX_PC() {}
void ClearFlash() {}
void* read_text_thread(void*) { return nullptr; }
void* clear_flash_thread(void*) { return nullptr; }
void format_transfer_counts(char* b, size_t s, const TransferProgress*) { if (s) b[0] = 0; }
gboolean transfer_poll(gpointer) { return TRUE; }
gboolean erase_poll(gpointer) { return TRUE; }
