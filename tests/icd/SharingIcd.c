/* An OpenCL implementation that shares buffers with OpenGL, for tests: PoCL's CPU device
 * presented as a GPU with cl_khr_gl_sharing and cl_khr_gl_event, so that the demo takes the
 * path of a desktop GPU on a machine without one.
 *
 * Every call reaches PoCL. The ICD loader dispatches each call on the table at the start of
 * its first object, so the objects whose calls this layer must see (the platform, devices,
 * contexts, queues, programs, kernels, shared buffers and fence events) carry a table of its
 * own: PoCL's table, copied, with the entries below put in. A creation is dispatched on the
 * object it is made from, so new objects get the table only through these entries, which
 * adopt what they make (kernels are made from programs, so programs are adopted too). The
 * objects stay PoCL's; PoCL never reads the table of an object it is given. Objects this
 * layer does not need (plain buffers, events of commands) keep PoCL's table. PoCL must not
 * also be loaded as an ICD of its own in the same process: the ICD directory holds this
 * library alone.
 *
 * Sharing works on the calling thread's current GLX context, with real semantics: a shared
 * buffer is a device buffer of the OpenGL buffer's size; an acquire copies OpenGL's contents
 * in and a release copies the device's contents back, each after every command enqueued
 * before it (blocking transfers on the in-order queue), on the calling thread, which must
 * have the sharing OpenGL context current. A fence event completes when the thread next
 * waits on it (an acquire's wait list, clWaitForEvents, a status query) and the OpenGL fence
 * has signalled.
 *
 * Where drivers leave the outcome undefined, it fails with CL_INVALID_OPERATION, a line on
 * stderr and one count more of misuse: a kernel launched with a shared buffer that OpenCL has
 * not acquired, a read, write, copy, fill or map of such a buffer, an acquire of an acquired
 * buffer, a release of one not acquired, a sharing call without the context's OpenGL context
 * current, and an OpenGL buffer resized after it was shared.
 *
 * Environment:
 *   VS_SHARING_ICD_OFFERS   "sharing" leaves out cl_khr_gl_event (the glFinish path),
 *                           "none" leaves out both extensions (the host-copy path on the
 *                           same device); anything else offers both.
 *   VS_SHARING_ICD_REPORT   a file that gets the counts at exit, one line:
 *                           "acquires A releases R fence-waits F misuses M".
 * A process in which this library is loaded reads the counts through the extension function
 * "vsSharingIcdCounts" (clGetExtensionFunctionAddressForPlatform). */
#define CL_TARGET_OPENCL_VERSION 300
#include <CL/cl_gl.h>
#include <CL/cl_icd.h>

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>

#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct VsSharingIcdCounts
{
    unsigned long acquires;
    unsigned long releases;
    unsigned long fenceWaits;
    unsigned long misuses;
} VsSharingIcdCounts;

struct IcdObject
{
    cl_icd_dispatch* dispatch;
};

static cl_icd_dispatch s_pocl;  /* PoCL's own entries */
static cl_icd_dispatch s_table; /* the table of the objects this layer sees */
static cl_platform_id s_platform;
static pthread_once_t s_once = PTHREAD_ONCE_INIT;
static pthread_mutex_t s_lock = PTHREAD_MUTEX_INITIALIZER;
static VsSharingIcdCounts s_counts;

static void Adopt(void* object)
{
    if (object)
    {
        ((struct IcdObject*)object)->dispatch = &s_table;
    }
}

static void Misuse(const char* what)
{
    pthread_mutex_lock(&s_lock);
    ++s_counts.misuses;
    pthread_mutex_unlock(&s_lock);
    fprintf(stderr, "sharing ICD: misuse: %s\n", what);
    fflush(stderr);
}

static void Count(unsigned long* counter)
{
    pthread_mutex_lock(&s_lock);
    ++*counter;
    pthread_mutex_unlock(&s_lock);
}

static int Offers(const char* extension)
{
    const char* offers = getenv("VS_SHARING_ICD_OFFERS");
    if (offers && strcmp(offers, "none") == 0)
    {
        return 0;
    }
    if (offers && strcmp(offers, "sharing") == 0)
    {
        return strcmp(extension, "cl_khr_gl_sharing") == 0;
    }
    return 1;
}

/* ---- The OpenGL entry points, from the process's GL library ---- */

static PFNGLBINDBUFFERPROC s_glBindBuffer;
static PFNGLISBUFFERPROC s_glIsBuffer;
static PFNGLGETBUFFERPARAMETERIVPROC s_glGetBufferParameteriv;
static PFNGLGETBUFFERSUBDATAPROC s_glGetBufferSubData;
static PFNGLBUFFERSUBDATAPROC s_glBufferSubData;
static PFNGLCLIENTWAITSYNCPROC s_glClientWaitSync;

static void* GlFunction(const char* name)
{
    return (void*)glXGetProcAddress((const GLubyte*)name);
}

/* ---- What this layer knows: sharing contexts, shared buffers, kernels' shared
 * arguments, fence events. Few of each; kept in small arrays under s_lock. ---- */

typedef struct
{
    cl_context context;
    GLXContext gl;
    Display* display;
} SharingContext;

typedef struct
{
    cl_mem mem;
    cl_context context;
    GLuint name;
    size_t size;
    int acquired;
} SharedBuffer;

typedef struct
{
    cl_kernel kernel;
    cl_uint index;
    cl_mem mem;
} SharedArgument;

typedef struct
{
    cl_event event;
    GLsync sync;
} FenceEvent;

#define VS_MAX_ENTRIES 256
static SharingContext s_contexts[VS_MAX_ENTRIES];
static size_t s_contextCount;
static SharedBuffer s_buffers[VS_MAX_ENTRIES];
static size_t s_bufferCount;
static SharedArgument s_arguments[VS_MAX_ENTRIES];
static size_t s_argumentCount;
static FenceEvent s_fences[VS_MAX_ENTRIES];
static size_t s_fenceCount;

/* Makes room for one more entry in an array holding count: a layer that stopped keeping
 * track would stop being strict, so running out ends the process. */
static size_t Room(size_t count)
{
    if (count >= VS_MAX_ENTRIES)
    {
        fprintf(stderr, "sharing ICD: more than %d objects to keep track of\n", VS_MAX_ENTRIES);
        abort();
    }
    return count;
}

/* Removes the entries of an array whose first member equals key; under s_lock. */
#define VS_FORGET(array, count, field, key)                                                        \
    do                                                                                             \
    {                                                                                              \
        size_t kept_ = 0;                                                                          \
        for (size_t i_ = 0; i_ < (count); ++i_)                                                    \
        {                                                                                          \
            if ((array)[i_].field != (key))                                                        \
            {                                                                                      \
                (array)[kept_++] = (array)[i_];                                                    \
            }                                                                                      \
        }                                                                                          \
        (count) = kept_;                                                                           \
    } while (0)

static const SharingContext* FindContext(cl_context context)
{
    for (size_t i = 0; i < s_contextCount; ++i)
    {
        if (s_contexts[i].context == context)
        {
            return &s_contexts[i];
        }
    }
    return NULL;
}

static SharedBuffer* FindBuffer(cl_mem mem)
{
    for (size_t i = 0; i < s_bufferCount; ++i)
    {
        if (s_buffers[i].mem == mem)
        {
            return &s_buffers[i];
        }
    }
    return NULL;
}

static void CL_CALLBACK ForgetBuffer(cl_mem mem, void* unused)
{
    (void)unused;
    pthread_mutex_lock(&s_lock);
    VS_FORGET(s_buffers, s_bufferCount, mem, mem);
    VS_FORGET(s_arguments, s_argumentCount, mem, mem);
    pthread_mutex_unlock(&s_lock);
}

/* Whether the reference a release drops is the object's last one. */
static int LastReference(cl_int status, cl_uint references)
{
    return status == CL_SUCCESS && references == 1;
}

/* ---- Platform and devices ---- */

static cl_int ReturnBytes(const void* bytes, size_t length, size_t size, void* value,
                          size_t* sizeReturned)
{
    if (value && size < length)
    {
        return CL_INVALID_VALUE;
    }
    if (value)
    {
        memcpy(value, bytes, length);
    }
    if (sizeReturned)
    {
        *sizeReturned = length;
    }
    return CL_SUCCESS;
}

/* PoCL's extension text with the sharing extensions this layer offers. */
static cl_int ReturnExtensions(cl_int status, const char* pocl, size_t size, void* value,
                               size_t* sizeReturned)
{
    if (status != CL_SUCCESS)
    {
        return status;
    }
    char text[4096];
    snprintf(text, sizeof text, "%s%s%s", pocl,
             Offers("cl_khr_gl_sharing") ? " cl_khr_gl_sharing" : "",
             Offers("cl_khr_gl_event") ? " cl_khr_gl_event" : "");
    return ReturnBytes(text, strlen(text) + 1, size, value, sizeReturned);
}

static CL_API_ENTRY cl_int CL_API_CALL SharingGetPlatformInfo(cl_platform_id platform,
                                                              cl_platform_info name, size_t size,
                                                              void* value, size_t* sizeReturned)
{
    if (name != CL_PLATFORM_EXTENSIONS)
    {
        return s_pocl.clGetPlatformInfo(platform, name, size, value, sizeReturned);
    }
    char pocl[4096] = "";
    const cl_int status = s_pocl.clGetPlatformInfo(platform, name, sizeof pocl, pocl, NULL);
    return ReturnExtensions(status, pocl, size, value, sizeReturned);
}

static CL_API_ENTRY cl_int CL_API_CALL SharingGetDeviceIDs(cl_platform_id platform,
                                                           cl_device_type type, cl_uint count,
                                                           cl_device_id* devices, cl_uint* found)
{
    /* PoCL's devices, all presented as GPUs. */
    if ((type & (CL_DEVICE_TYPE_GPU | CL_DEVICE_TYPE_DEFAULT)) == 0 && type != CL_DEVICE_TYPE_ALL)
    {
        return CL_DEVICE_NOT_FOUND;
    }
    cl_uint available = 0;
    cl_int status = s_pocl.clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 0, NULL, &available);
    if (status == CL_SUCCESS)
    {
        status = s_pocl.clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, count, devices, found);
    }
    for (cl_uint i = 0; status == CL_SUCCESS && devices && i < count && i < available; ++i)
    {
        Adopt(devices[i]);
    }
    return status;
}

static CL_API_ENTRY cl_int CL_API_CALL SharingGetDeviceInfo(cl_device_id device,
                                                            cl_device_info name, size_t size,
                                                            void* value, size_t* sizeReturned)
{
    if (name == CL_DEVICE_TYPE)
    {
        const cl_device_type gpu = CL_DEVICE_TYPE_GPU;
        return ReturnBytes(&gpu, sizeof gpu, size, value, sizeReturned);
    }
    if (name == CL_DEVICE_EXTENSIONS)
    {
        char pocl[4096] = "";
        const cl_int status = s_pocl.clGetDeviceInfo(device, name, sizeof pocl, pocl, NULL);
        return ReturnExtensions(status, pocl, size, value, sizeReturned);
    }
    return s_pocl.clGetDeviceInfo(device, name, size, value, sizeReturned);
}

/* ---- Contexts ---- */

/* A context creation's properties split: the OpenGL ones, and the rest to forward to PoCL. */
typedef struct
{
    cl_context_properties forwarded[64]; /* ended by 0 */
    GLXContext gl;                       /* null where none was given */
    Display* display;
} GlProperties;

/* Takes the OpenGL properties out of properties into taken. Refuses GLX properties that do
 * not name the calling thread's current context and display, as a driver does. */
static cl_int TakeGlProperties(const cl_context_properties* properties, GlProperties* taken)
{
    const size_t capacity = sizeof(taken->forwarded) / sizeof(taken->forwarded[0]);
    int named = 0;
    size_t n = 0;
    taken->gl = NULL;
    taken->display = NULL;
    for (size_t i = 0; properties && properties[i] != 0; i += 2)
    {
        switch (properties[i])
        {
        case CL_GL_CONTEXT_KHR:
            taken->gl = (GLXContext)properties[i + 1];
            named = 1;
            break;
        case CL_GLX_DISPLAY_KHR:
            taken->display = (Display*)properties[i + 1];
            named = 1;
            break;
        case CL_EGL_DISPLAY_KHR:
        case CL_WGL_HDC_KHR:
        case CL_CGL_SHAREGROUP_KHR:
            return CL_INVALID_PROPERTY;
        default:
            if (n + 3 > capacity)
            {
                return CL_INVALID_PROPERTY;
            }
            taken->forwarded[n++] = properties[i];
            taken->forwarded[n++] = properties[i + 1];
        }
    }
    taken->forwarded[n] = 0;
    if (named && (taken->gl == NULL || taken->gl != glXGetCurrentContext() ||
                  taken->display == NULL || taken->display != glXGetCurrentDisplay()))
    {
        return CL_INVALID_GL_SHAREGROUP_REFERENCE_KHR;
    }
    return CL_SUCCESS;
}

static cl_context Registered(cl_context context, GLXContext gl, Display* display)
{
    if (!context)
    {
        return NULL;
    }
    Adopt(context);
    /* A new context may have the address of one gone before. */
    pthread_mutex_lock(&s_lock);
    VS_FORGET(s_contexts, s_contextCount, context, context);
    if (gl)
    {
        s_contexts[Room(s_contextCount)] = (SharingContext){context, gl, display};
        ++s_contextCount;
    }
    pthread_mutex_unlock(&s_lock);
    return context;
}

// Whether status refuses a creation call, reported through its error argument as such a
// call reports it.
static int Refused(cl_int status, cl_int* error)
{
    if (status != CL_SUCCESS && error)
    {
        *error = status;
    }
    return status != CL_SUCCESS;
}

typedef void(CL_CALLBACK* ContextNotify)(const char*, const void*, size_t, void*);

static CL_API_ENTRY cl_context CL_API_CALL SharingCreateContext(
    const cl_context_properties* properties, cl_uint count, const cl_device_id* devices,
    ContextNotify notify, void* userData, cl_int* error)
{
    GlProperties taken;
    if (Refused(TakeGlProperties(properties, &taken), error))
    {
        return NULL;
    }
    return Registered(s_pocl.clCreateContext(properties ? taken.forwarded : NULL, count, devices,
                                             notify, userData, error),
                      taken.gl, taken.display);
}

static CL_API_ENTRY cl_context CL_API_CALL
SharingCreateContextFromType(const cl_context_properties* properties, cl_device_type type,
                             ContextNotify notify, void* userData, cl_int* error)
{
    GlProperties taken;
    if (Refused(TakeGlProperties(properties, &taken), error))
    {
        return NULL;
    }
    if (type & CL_DEVICE_TYPE_GPU)
    {
        type = CL_DEVICE_TYPE_ALL;
    }
    return Registered(s_pocl.clCreateContextFromType(properties ? taken.forwarded : NULL, type,
                                                     notify, userData, error),
                      taken.gl, taken.display);
}

static CL_API_ENTRY cl_int CL_API_CALL SharingReleaseContext(cl_context context)
{
    cl_uint references = 0;
    if (LastReference(s_pocl.clGetContextInfo(context, CL_CONTEXT_REFERENCE_COUNT,
                                              sizeof references, &references, NULL),
                      references))
    {
        pthread_mutex_lock(&s_lock);
        VS_FORGET(s_contexts, s_contextCount, context, context);
        pthread_mutex_unlock(&s_lock);
    }
    return s_pocl.clReleaseContext(context);
}

static CL_API_ENTRY cl_command_queue CL_API_CALL SharingCreateCommandQueue(
    cl_context context, cl_device_id device, cl_command_queue_properties properties, cl_int* error)
{
    cl_command_queue queue = s_pocl.clCreateCommandQueue(context, device, properties, error);
    Adopt(queue);
    return queue;
}

static CL_API_ENTRY cl_command_queue CL_API_CALL SharingCreateCommandQueueWithProperties(
    cl_context context, cl_device_id device, const cl_queue_properties* properties, cl_int* error)
{
    cl_command_queue queue =
        s_pocl.clCreateCommandQueueWithProperties(context, device, properties, error);
    Adopt(queue);
    return queue;
}

/* ---- Programs: adopted, so that their kernels are made here ---- */

static cl_program Adopted(cl_program program)
{
    Adopt(program);
    return program;
}

static CL_API_ENTRY cl_program CL_API_CALL SharingCreateProgramWithSource(
    cl_context context, cl_uint count, const char** strings, const size_t* lengths, cl_int* error)
{
    return Adopted(s_pocl.clCreateProgramWithSource(context, count, strings, lengths, error));
}

static CL_API_ENTRY cl_program CL_API_CALL SharingCreateProgramWithBinary(
    cl_context context, cl_uint count, const cl_device_id* devices, const size_t* lengths,
    const unsigned char** binaries, cl_int* binaryStatus, cl_int* error)
{
    return Adopted(s_pocl.clCreateProgramWithBinary(context, count, devices, lengths, binaries,
                                                    binaryStatus, error));
}

static CL_API_ENTRY cl_program CL_API_CALL SharingCreateProgramWithBuiltInKernels(
    cl_context context, cl_uint count, const cl_device_id* devices, const char* names,
    cl_int* error)
{
    return Adopted(s_pocl.clCreateProgramWithBuiltInKernels(context, count, devices, names, error));
}

static CL_API_ENTRY cl_program CL_API_CALL SharingCreateProgramWithIL(cl_context context,
                                                                      const void* il, size_t length,
                                                                      cl_int* error)
{
    return Adopted(s_pocl.clCreateProgramWithIL(context, il, length, error));
}

typedef void(CL_CALLBACK* ProgramNotify)(cl_program, void*);

static CL_API_ENTRY cl_program CL_API_CALL SharingLinkProgram(
    cl_context context, cl_uint deviceCount, const cl_device_id* devices, const char* options,
    cl_uint count, const cl_program* programs, ProgramNotify notify, void* userData, cl_int* error)
{
    return Adopted(s_pocl.clLinkProgram(context, deviceCount, devices, options, count, programs,
                                        notify, userData, error));
}

/* ---- Kernels: which arguments are shared buffers ---- */

static void ForgetKernel(cl_kernel kernel)
{
    pthread_mutex_lock(&s_lock);
    VS_FORGET(s_arguments, s_argumentCount, kernel, kernel);
    pthread_mutex_unlock(&s_lock);
}

static cl_kernel NewKernel(cl_kernel kernel)
{
    /* A new kernel may have the address of one gone before. */
    if (kernel)
    {
        ForgetKernel(kernel);
        Adopt(kernel);
    }
    return kernel;
}

static CL_API_ENTRY cl_kernel CL_API_CALL SharingCreateKernel(cl_program program, const char* name,
                                                              cl_int* error)
{
    return NewKernel(s_pocl.clCreateKernel(program, name, error));
}

static CL_API_ENTRY cl_int CL_API_CALL SharingCreateKernelsInProgram(cl_program program,
                                                                     cl_uint count,
                                                                     cl_kernel* kernels,
                                                                     cl_uint* created)
{
    const cl_int status = s_pocl.clCreateKernelsInProgram(program, count, kernels, created);
    if (status == CL_SUCCESS && kernels)
    {
        for (cl_uint i = 0; i < count; ++i)
        {
            NewKernel(kernels[i]);
        }
    }
    return status;
}

static CL_API_ENTRY cl_kernel CL_API_CALL SharingCloneKernel(cl_kernel source, cl_int* error)
{
    cl_kernel kernel = NewKernel(s_pocl.clCloneKernel(source, error));
    if (kernel)
    {
        pthread_mutex_lock(&s_lock);
        const size_t count = s_argumentCount;
        for (size_t i = 0; i < count; ++i)
        {
            if (s_arguments[i].kernel == source)
            {
                s_arguments[Room(s_argumentCount)] =
                    (SharedArgument){kernel, s_arguments[i].index, s_arguments[i].mem};
                ++s_argumentCount;
            }
        }
        pthread_mutex_unlock(&s_lock);
    }
    return kernel;
}

static CL_API_ENTRY cl_int CL_API_CALL SharingReleaseKernel(cl_kernel kernel)
{
    cl_uint references = 0;
    if (LastReference(s_pocl.clGetKernelInfo(kernel, CL_KERNEL_REFERENCE_COUNT, sizeof references,
                                             &references, NULL),
                      references))
    {
        ForgetKernel(kernel);
    }
    return s_pocl.clReleaseKernel(kernel);
}

static CL_API_ENTRY cl_int CL_API_CALL SharingSetKernelArg(cl_kernel kernel, cl_uint index,
                                                           size_t size, const void* value)
{
    const cl_int status = s_pocl.clSetKernelArg(kernel, index, size, value);
    if (status != CL_SUCCESS)
    {
        return status;
    }
    pthread_mutex_lock(&s_lock);
    size_t kept = 0;
    for (size_t i = 0; i < s_argumentCount; ++i)
    {
        if (s_arguments[i].kernel != kernel || s_arguments[i].index != index)
        {
            s_arguments[kept++] = s_arguments[i];
        }
    }
    s_argumentCount = kept;
    if (size == sizeof(cl_mem) && value && FindBuffer(*(const cl_mem*)value))
    {
        s_arguments[Room(s_argumentCount)] = (SharedArgument){kernel, index, *(const cl_mem*)value};
        ++s_argumentCount;
    }
    pthread_mutex_unlock(&s_lock);
    return status;
}

/* Whether every shared buffer among the kernel's arguments is acquired. */
static int SharedArgumentsAcquired(cl_kernel kernel)
{
    int acquired = 1;
    pthread_mutex_lock(&s_lock);
    for (size_t i = 0; i < s_argumentCount; ++i)
    {
        const SharedBuffer* buffer = FindBuffer(s_arguments[i].mem);
        if (s_arguments[i].kernel == kernel && buffer && !buffer->acquired)
        {
            acquired = 0;
        }
    }
    pthread_mutex_unlock(&s_lock);
    if (!acquired)
    {
        Misuse("a kernel launched with a shared buffer that OpenCL has not acquired");
    }
    return acquired;
}

static CL_API_ENTRY cl_int CL_API_CALL
SharingEnqueueNDRangeKernel(cl_command_queue queue, cl_kernel kernel, cl_uint dimensions,
                            const size_t* offset, const size_t* global, const size_t* local,
                            cl_uint waitCount, const cl_event* waitList, cl_event* event)
{
    if (!SharedArgumentsAcquired(kernel))
    {
        return CL_INVALID_OPERATION;
    }
    return s_pocl.clEnqueueNDRangeKernel(queue, kernel, dimensions, offset, global, local,
                                         waitCount, waitList, event);
}

static CL_API_ENTRY cl_int CL_API_CALL SharingEnqueueTask(cl_command_queue queue, cl_kernel kernel,
                                                          cl_uint waitCount,
                                                          const cl_event* waitList, cl_event* event)
{
    if (!SharedArgumentsAcquired(kernel))
    {
        return CL_INVALID_OPERATION;
    }
    return s_pocl.clEnqueueTask(queue, kernel, waitCount, waitList, event);
}

/* ---- Shared buffers ---- */
/* Whether mem is a shared buffer that OpenCL has not acquired: a misuse in a command. */
static int Unacquired(cl_mem mem)
{
    pthread_mutex_lock(&s_lock);
    const SharedBuffer* buffer = FindBuffer(mem);
    const int unacquired = buffer && !buffer->acquired;
    pthread_mutex_unlock(&s_lock);
    if (unacquired)
    {
        Misuse("a command on a shared buffer that OpenCL has not acquired");
    }
    return unacquired;
}

static CL_API_ENTRY cl_int CL_API_CALL SharingEnqueueReadBuffer(
    cl_command_queue queue, cl_mem mem, cl_bool blocking, size_t offset, size_t size, void* bytes,
    cl_uint waitCount, const cl_event* waitList, cl_event* event)
{
    return Unacquired(mem) ? CL_INVALID_OPERATION
                           : s_pocl.clEnqueueReadBuffer(queue, mem, blocking, offset, size, bytes,
                                                        waitCount, waitList, event);
}

static CL_API_ENTRY cl_int CL_API_CALL SharingEnqueueWriteBuffer(
    cl_command_queue queue, cl_mem mem, cl_bool blocking, size_t offset, size_t size,
    const void* bytes, cl_uint waitCount, const cl_event* waitList, cl_event* event)
{
    return Unacquired(mem) ? CL_INVALID_OPERATION
                           : s_pocl.clEnqueueWriteBuffer(queue, mem, blocking, offset, size, bytes,
                                                         waitCount, waitList, event);
}

static CL_API_ENTRY cl_int CL_API_CALL
SharingEnqueueCopyBuffer(cl_command_queue queue, cl_mem source, cl_mem destination,
                         size_t sourceOffset, size_t destinationOffset, size_t size,
                         cl_uint waitCount, const cl_event* waitList, cl_event* event)
{
    return Unacquired(source) || Unacquired(destination)
               ? CL_INVALID_OPERATION
               : s_pocl.clEnqueueCopyBuffer(queue, source, destination, sourceOffset,
                                            destinationOffset, size, waitCount, waitList, event);
}

static CL_API_ENTRY cl_int CL_API_CALL SharingEnqueueFillBuffer(
    cl_command_queue queue, cl_mem mem, const void* pattern, size_t patternSize, size_t offset,
    size_t size, cl_uint waitCount, const cl_event* waitList, cl_event* event)
{
    return Unacquired(mem) ? CL_INVALID_OPERATION
                           : s_pocl.clEnqueueFillBuffer(queue, mem, pattern, patternSize, offset,
                                                        size, waitCount, waitList, event);
}

static CL_API_ENTRY void* CL_API_CALL SharingEnqueueMapBuffer(
    cl_command_queue queue, cl_mem mem, cl_bool blocking, cl_map_flags flags, size_t offset,
    size_t size, cl_uint waitCount, const cl_event* waitList, cl_event* event, cl_int* error)
{
    if (Unacquired(mem))
    {
        if (error)
        {
            *error = CL_INVALID_OPERATION;
        }
        return NULL;
    }
    return s_pocl.clEnqueueMapBuffer(queue, mem, blocking, flags, offset, size, waitCount, waitList,
                                     event, error);
}

/* The sharing context of context, with its OpenGL context current on this thread; else
 * null, with the status to answer in *status. */
static int CurrentSharingContext(cl_context context, cl_int* status)
{
    pthread_mutex_lock(&s_lock);
    const SharingContext* sharing = FindContext(context);
    const GLXContext gl = sharing ? sharing->gl : NULL;
    pthread_mutex_unlock(&s_lock);
    if (!gl)
    {
        *status = CL_INVALID_CONTEXT;
        return 0;
    }
    if (gl != glXGetCurrentContext())
    {
        Misuse("a sharing call without the context's OpenGL context current on this thread");
        *status = CL_INVALID_OPERATION;
        return 0;
    }
    return 1;
}

/* The size of OpenGL buffer name in bytes; -1 where name is no buffer. */
static GLint64 GlBufferSize(GLuint name)
{
    if (name == 0 || !s_glIsBuffer(name))
    {
        return -1;
    }
    GLint previous = 0;
    GLint size = 0;
    glGetIntegerv(GL_COPY_READ_BUFFER_BINDING, &previous);
    s_glBindBuffer(GL_COPY_READ_BUFFER, name);
    s_glGetBufferParameteriv(GL_COPY_READ_BUFFER, GL_BUFFER_SIZE, &size);
    s_glBindBuffer(GL_COPY_READ_BUFFER, (GLuint)previous);
    return size;
}

static CL_API_ENTRY cl_mem CL_API_CALL SharingCreateFromGLBuffer(cl_context context,
                                                                 cl_mem_flags flags, GLuint name,
                                                                 cl_int* error)
{
    cl_int status = CL_SUCCESS;
    cl_mem mem = NULL;
    if (!CurrentSharingContext(context, &status))
    {
        goto done;
    }
    if (flags & ~(cl_mem_flags)(CL_MEM_READ_WRITE | CL_MEM_READ_ONLY | CL_MEM_WRITE_ONLY))
    {
        status = CL_INVALID_VALUE;
        goto done;
    }
    const GLint64 size = GlBufferSize(name);
    if (size <= 0)
    {
        status = CL_INVALID_GL_OBJECT;
        goto done;
    }
    mem = s_pocl.clCreateBuffer(context, flags, (size_t)size, NULL, &status);
    if (!mem)
    {
        goto done;
    }
    pthread_mutex_lock(&s_lock);
    s_buffers[Room(s_bufferCount)] = (SharedBuffer){mem, context, name, (size_t)size, 0};
    ++s_bufferCount;
    pthread_mutex_unlock(&s_lock);
    s_pocl.clSetMemObjectDestructorCallback(mem, ForgetBuffer, NULL);
    Adopt(mem);
done:
    if (error)
    {
        *error = status;
    }
    return mem;
}

static CL_API_ENTRY cl_int CL_API_CALL SharingGetGLObjectInfo(cl_mem mem, cl_gl_object_type* type,
                                                              GLuint* name)
{
    pthread_mutex_lock(&s_lock);
    const SharedBuffer* buffer = FindBuffer(mem);
    const GLuint found = buffer ? buffer->name : 0;
    pthread_mutex_unlock(&s_lock);
    if (!buffer)
    {
        return CL_INVALID_GL_OBJECT;
    }
    if (type)
    {
        *type = CL_GL_OBJECT_BUFFER;
    }
    if (name)
    {
        *name = found;
    }
    return CL_SUCCESS;
}

/* ---- Fence events ---- */

static CL_API_ENTRY cl_event CL_API_CALL SharingCreateEventFromGLsync(cl_context context,
                                                                      cl_GLsync sync, cl_int* error)
{
    cl_int status = CL_SUCCESS;
    cl_event event = NULL;
    if (!Offers("cl_khr_gl_event"))
    {
        status = CL_INVALID_OPERATION;
    }
    else if (CurrentSharingContext(context, &status))
    {
        event = s_pocl.clCreateUserEvent(context, &status);
    }
    if (event)
    {
        pthread_mutex_lock(&s_lock);
        VS_FORGET(s_fences, s_fenceCount, event, event);
        s_fences[Room(s_fenceCount)] = (FenceEvent){event, (GLsync)sync};
        ++s_fenceCount;
        pthread_mutex_unlock(&s_lock);
        Adopt(event);
    }
    if (error)
    {
        *error = status;
    }
    return event;
}

/* Completes the fence events among events whose fences have signalled, waiting for them
 * where wait is set. Answers CL_SUCCESS, or the status for a fence that cannot be awaited. */
static cl_int SettleFences(cl_uint count, const cl_event* events, int wait)
{
    for (cl_uint i = 0; events && i < count; ++i)
    {
        GLsync sync = NULL;
        pthread_mutex_lock(&s_lock);
        for (size_t f = 0; f < s_fenceCount; ++f)
        {
            if (s_fences[f].event == events[i])
            {
                sync = s_fences[f].sync;
            }
        }
        pthread_mutex_unlock(&s_lock);
        if (!sync)
        {
            continue;
        }
        if (!glXGetCurrentContext())
        {
            Misuse("a fence event awaited without an OpenGL context current on this thread");
            return CL_INVALID_OPERATION;
        }
        GLenum result = GL_TIMEOUT_EXPIRED;
        /* Ten minutes at most: a fence that never signals is a hang worth naming. */
        for (int tries = 0; result == GL_TIMEOUT_EXPIRED && tries < (wait ? 600 : 1); ++tries)
        {
            result = s_glClientWaitSync(sync, GL_SYNC_FLUSH_COMMANDS_BIT, wait ? 1000000000u : 0u);
        }
        if (result == GL_TIMEOUT_EXPIRED && !wait)
        {
            continue;
        }
        if (result != GL_ALREADY_SIGNALED && result != GL_CONDITION_SATISFIED)
        {
            Misuse("an OpenGL fence that cannot be awaited (deleted, or never signalled)");
            s_pocl.clSetUserEventStatus(events[i], CL_INVALID_OPERATION);
            return CL_INVALID_OPERATION;
        }
        s_pocl.clSetUserEventStatus(events[i], CL_COMPLETE);
        pthread_mutex_lock(&s_lock);
        VS_FORGET(s_fences, s_fenceCount, event, events[i]);
        ++s_counts.fenceWaits;
        pthread_mutex_unlock(&s_lock);
    }
    return CL_SUCCESS;
}

static CL_API_ENTRY cl_int CL_API_CALL SharingWaitForEvents(cl_uint count, const cl_event* events)
{
    const cl_int status = SettleFences(count, events, 1);
    return status != CL_SUCCESS ? status : s_pocl.clWaitForEvents(count, events);
}

static CL_API_ENTRY cl_int CL_API_CALL SharingGetEventInfo(cl_event event, cl_event_info name,
                                                           size_t size, void* value,
                                                           size_t* sizeReturned)
{
    if (name == CL_EVENT_COMMAND_EXECUTION_STATUS)
    {
        SettleFences(1, &event, 0);
    }
    return s_pocl.clGetEventInfo(event, name, size, value, sizeReturned);
}

static CL_API_ENTRY cl_int CL_API_CALL SharingReleaseEvent(cl_event event)
{
    cl_uint references = 0;
    if (LastReference(s_pocl.clGetEventInfo(event, CL_EVENT_REFERENCE_COUNT, sizeof references,
                                            &references, NULL),
                      references))
    {
        pthread_mutex_lock(&s_lock);
        VS_FORGET(s_fences, s_fenceCount, event, event);
        pthread_mutex_unlock(&s_lock);
    }
    return s_pocl.clReleaseEvent(event);
}

/* ---- Acquire and release ---- */

typedef enum
{
    Acquire,
    Release
} HandOver;

/* Checks a hand-over of objects on queue; answers CL_SUCCESS or the status to return. */
static cl_int CheckHandOver(HandOver handOver, cl_command_queue queue, cl_uint count,
                            const cl_mem* objects)
{
    if (count == 0 || !objects)
    {
        return CL_INVALID_VALUE;
    }
    cl_context context = NULL;
    cl_int status =
        s_pocl.clGetCommandQueueInfo(queue, CL_QUEUE_CONTEXT, sizeof context, &context, NULL);
    if (status != CL_SUCCESS)
    {
        return status;
    }
    if (!CurrentSharingContext(context, &status))
    {
        return status;
    }
    const char* misuse = NULL;
    pthread_mutex_lock(&s_lock);
    for (cl_uint i = 0; i < count && status == CL_SUCCESS; ++i)
    {
        const SharedBuffer* buffer = FindBuffer(objects[i]);
        if (!buffer || buffer->context != context)
        {
            status = CL_INVALID_GL_OBJECT;
        }
        else if (handOver == Acquire && buffer->acquired)
        {
            misuse = "an acquire of a shared buffer that OpenCL has already acquired";
        }
        else if (handOver == Release && !buffer->acquired)
        {
            misuse = "a release of a shared buffer that OpenCL has not acquired";
        }
        else if (GlBufferSize(buffer->name) != (GLint64)buffer->size)
        {
            misuse = "an OpenGL buffer whose size changed after OpenCL shared it";
        }
    }
    pthread_mutex_unlock(&s_lock);
    if (misuse)
    {
        Misuse(misuse);
        return CL_INVALID_OPERATION;
    }
    return status;
}

/* Copies between each OpenGL buffer and its device buffer, in queue order: the first
 * transfer waits for waitList, and each is blocking, so it runs after every command enqueued
 * before it and is done on return. Then marks the buffers and makes the event. */
static cl_int HandOverObjects(HandOver handOver, cl_command_queue queue, cl_uint count,
                              const cl_mem* objects, cl_uint waitCount, const cl_event* waitList,
                              cl_event* event)
{
    cl_int status = CheckHandOver(handOver, queue, count, objects);
    if (status == CL_SUCCESS && handOver == Acquire)
    {
        status = SettleFences(waitCount, waitList, 1);
    }
    for (cl_uint i = 0; i < count && status == CL_SUCCESS; ++i)
    {
        pthread_mutex_lock(&s_lock);
        const SharedBuffer buffer = *FindBuffer(objects[i]);
        pthread_mutex_unlock(&s_lock);
        void* bytes = malloc(buffer.size);
        if (!bytes)
        {
            return CL_OUT_OF_HOST_MEMORY;
        }
        const GLenum target = handOver == Acquire ? GL_COPY_READ_BUFFER : GL_COPY_WRITE_BUFFER;
        GLint previous = 0;
        glGetIntegerv(handOver == Acquire ? GL_COPY_READ_BUFFER_BINDING
                                          : GL_COPY_WRITE_BUFFER_BINDING,
                      &previous);
        s_glBindBuffer(target, buffer.name);
        const cl_uint waits = i == 0 ? waitCount : 0;
        const cl_event* list = i == 0 ? waitList : NULL;
        if (handOver == Acquire)
        {
            s_glGetBufferSubData(target, 0, (GLsizeiptr)buffer.size, bytes);
            status = s_pocl.clEnqueueWriteBuffer(queue, buffer.mem, CL_TRUE, 0, buffer.size, bytes,
                                                 waits, list, NULL);
        }
        else
        {
            status = s_pocl.clEnqueueReadBuffer(queue, buffer.mem, CL_TRUE, 0, buffer.size, bytes,
                                                waits, list, NULL);
            if (status == CL_SUCCESS)
            {
                s_glBufferSubData(target, 0, (GLsizeiptr)buffer.size, bytes);
            }
        }
        s_glBindBuffer(target, (GLuint)previous);
        free(bytes);
        if (status == CL_SUCCESS)
        {
            pthread_mutex_lock(&s_lock);
            FindBuffer(objects[i])->acquired = handOver == Acquire;
            pthread_mutex_unlock(&s_lock);
        }
    }
    if (status != CL_SUCCESS)
    {
        return status;
    }
    Count(handOver == Acquire ? &s_counts.acquires : &s_counts.releases);
    return event ? s_pocl.clEnqueueMarkerWithWaitList(queue, 0, NULL, event) : CL_SUCCESS;
}

static CL_API_ENTRY cl_int CL_API_CALL
SharingEnqueueAcquireGLObjects(cl_command_queue queue, cl_uint count, const cl_mem* objects,
                               cl_uint waitCount, const cl_event* waitList, cl_event* event)
{
    return HandOverObjects(Acquire, queue, count, objects, waitCount, waitList, event);
}

static CL_API_ENTRY cl_int CL_API_CALL
SharingEnqueueReleaseGLObjects(cl_command_queue queue, cl_uint count, const cl_mem* objects,
                               cl_uint waitCount, const cl_event* waitList, cl_event* event)
{
    return HandOverObjects(Release, queue, count, objects, waitCount, waitList, event);
}

/* ---- Entry points: the loader's and the counts ---- */

static void CL_API_CALL ReadCounts(VsSharingIcdCounts* counts)
{
    pthread_mutex_lock(&s_lock);
    *counts = s_counts;
    pthread_mutex_unlock(&s_lock);
}

static CL_API_ENTRY void* CL_API_CALL
SharingGetExtensionFunctionAddressForPlatform(cl_platform_id platform, const char* name)
{
    if (strcmp(name, "vsSharingIcdCounts") == 0)
    {
        return (void*)ReadCounts;
    }
    if (strcmp(name, "clCreateEventFromGLsyncKHR") == 0)
    {
        return (void*)SharingCreateEventFromGLsync;
    }
    return s_pocl.clGetExtensionFunctionAddressForPlatform(platform, name);
}

static void Load(void)
{
    void* pocl = dlopen("libpocl.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!pocl)
    {
        fprintf(stderr, "sharing ICD: cannot load PoCL: %s\n", dlerror());
        return;
    }
    void* (*address)(const char*) =
        (void* (*)(const char*))dlsym(pocl, "clGetExtensionFunctionAddress");
    clIcdGetPlatformIDsKHR_fn platforms =
        address ? (clIcdGetPlatformIDsKHR_fn)address("clIcdGetPlatformIDsKHR") : NULL;
    cl_platform_id platform = NULL;
    if (!platforms || platforms(1, &platform, NULL) != CL_SUCCESS || !platform)
    {
        fprintf(stderr, "sharing ICD: PoCL offers no platform\n");
        return;
    }
    s_pocl = *((struct IcdObject*)platform)->dispatch;
    s_table = s_pocl;
    s_table.clGetPlatformInfo = SharingGetPlatformInfo;
    s_table.clGetDeviceIDs = SharingGetDeviceIDs;
    s_table.clGetDeviceInfo = SharingGetDeviceInfo;
    s_table.clCreateContext = SharingCreateContext;
    s_table.clCreateContextFromType = SharingCreateContextFromType;
    s_table.clReleaseContext = SharingReleaseContext;
    s_table.clCreateCommandQueue = SharingCreateCommandQueue;
    s_table.clCreateCommandQueueWithProperties = SharingCreateCommandQueueWithProperties;
    s_table.clCreateProgramWithSource = SharingCreateProgramWithSource;
    s_table.clCreateProgramWithBinary = SharingCreateProgramWithBinary;
    s_table.clCreateProgramWithBuiltInKernels = SharingCreateProgramWithBuiltInKernels;
    s_table.clCreateProgramWithIL = SharingCreateProgramWithIL;
    s_table.clLinkProgram = SharingLinkProgram;
    s_table.clCreateKernel = SharingCreateKernel;
    s_table.clCreateKernelsInProgram = SharingCreateKernelsInProgram;
    s_table.clCloneKernel = SharingCloneKernel;
    s_table.clReleaseKernel = SharingReleaseKernel;
    s_table.clSetKernelArg = SharingSetKernelArg;
    s_table.clEnqueueNDRangeKernel = SharingEnqueueNDRangeKernel;
    s_table.clEnqueueTask = SharingEnqueueTask;
    s_table.clEnqueueReadBuffer = SharingEnqueueReadBuffer;
    s_table.clEnqueueWriteBuffer = SharingEnqueueWriteBuffer;
    s_table.clEnqueueCopyBuffer = SharingEnqueueCopyBuffer;
    s_table.clEnqueueFillBuffer = SharingEnqueueFillBuffer;
    s_table.clEnqueueMapBuffer = SharingEnqueueMapBuffer;
    s_table.clWaitForEvents = SharingWaitForEvents;
    s_table.clGetEventInfo = SharingGetEventInfo;
    s_table.clReleaseEvent = SharingReleaseEvent;
    s_table.clCreateFromGLBuffer = SharingCreateFromGLBuffer;
    s_table.clGetGLObjectInfo = SharingGetGLObjectInfo;
    s_table.clEnqueueAcquireGLObjects = SharingEnqueueAcquireGLObjects;
    s_table.clEnqueueReleaseGLObjects = SharingEnqueueReleaseGLObjects;
    s_table.clCreateEventFromGLsyncKHR = SharingCreateEventFromGLsync;
    s_table.clGetExtensionFunctionAddressForPlatform =
        SharingGetExtensionFunctionAddressForPlatform;

    s_glBindBuffer = (PFNGLBINDBUFFERPROC)GlFunction("glBindBuffer");
    s_glIsBuffer = (PFNGLISBUFFERPROC)GlFunction("glIsBuffer");
    s_glGetBufferParameteriv = (PFNGLGETBUFFERPARAMETERIVPROC)GlFunction("glGetBufferParameteriv");
    s_glGetBufferSubData = (PFNGLGETBUFFERSUBDATAPROC)GlFunction("glGetBufferSubData");
    s_glBufferSubData = (PFNGLBUFFERSUBDATAPROC)GlFunction("glBufferSubData");
    s_glClientWaitSync = (PFNGLCLIENTWAITSYNCPROC)GlFunction("glClientWaitSync");

    Adopt(platform);
    s_platform = platform;
}

static CL_API_ENTRY cl_int CL_API_CALL SharingIcdGetPlatformIDs(cl_uint count,
                                                                cl_platform_id* platforms,
                                                                cl_uint* found)
{
    pthread_once(&s_once, Load);
    if ((count == 0 && platforms) || (!platforms && !found))
    {
        return CL_INVALID_VALUE;
    }
    if (!s_platform)
    {
        return CL_PLATFORM_NOT_FOUND_KHR;
    }
    if (platforms)
    {
        platforms[0] = s_platform;
    }
    if (found)
    {
        *found = 1;
    }
    return CL_SUCCESS;
}

CL_API_ENTRY void* CL_API_CALL clGetExtensionFunctionAddress(const char* name)
{
    if (strcmp(name, "clIcdGetPlatformIDsKHR") == 0)
    {
        return (void*)SharingIcdGetPlatformIDs;
    }
    pthread_once(&s_once, Load);
    if (strcmp(name, "clGetPlatformInfo") == 0)
    {
        return (void*)SharingGetPlatformInfo;
    }
    if (strcmp(name, "clCreateEventFromGLsyncKHR") == 0)
    {
        return (void*)SharingCreateEventFromGLsync;
    }
    return s_platform ? s_pocl.clGetExtensionFunctionAddressForPlatform(s_platform, name) : NULL;
}

__attribute__((destructor)) static void WriteReport(void)
{
    const char* path = getenv("VS_SHARING_ICD_REPORT");
    FILE* file = path && *path ? fopen(path, "w") : NULL;
    if (file)
    {
        VsSharingIcdCounts counts;
        ReadCounts(&counts);
        fprintf(file, "acquires %lu releases %lu fence-waits %lu misuses %lu\n", counts.acquires,
                counts.releases, counts.fenceWaits, counts.misuses);
        fclose(file);
    }
}
