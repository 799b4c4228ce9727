/* The stand-in string runtime: plays the role of the shared MFC runtime's
 * narrow CStringT wherever that runtime is absent. The bridge and every
 * vendor library it loads must use this one shared library, because the
 * vendor export destroys the by-value string that the bridge built.
 *
 * The interface is a fixed C ABI; vendor test doubles are written against it.
 */
#ifndef STANDIN_CSTRING_H_
#define STANDIN_CSTRING_H_

#if defined(_WIN32)
#if defined(STANDIN_CSTRING_BUILDING)
#define STANDIN_CSTRING_API __declspec(dllexport)
#else
#define STANDIN_CSTRING_API __declspec(dllimport)
#endif
#else
#define STANDIN_CSTRING_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One pointer: NUL-terminated heap text owned by the runtime. */
typedef struct StandInCString {
  char* text;
} StandInCString;

/* Makes `self` hold a copy of the NUL-terminated `text` (empty when null). */
STANDIN_CSTRING_API void StandInCStringConstruct(StandInCString* self,
                                                 const char* text);

/* Makes `self` hold a copy of the text of `source`. */
STANDIN_CSTRING_API void StandInCStringCopy(StandInCString* self,
                                            const StandInCString* source);

/* Releases the text of `self`; `self` then holds none. */
STANDIN_CSTRING_API void StandInCStringDestroy(StandInCString* self);

#ifdef __cplusplus
}
#endif

#endif /* STANDIN_CSTRING_H_ */
