/* answer_value.h is not in the project: the build's --setup script puts it
   where the compiler looks, as a system library's header would be. */
#include <Python.h>
#include <answer_value.h>

static PyObject *answer(PyObject *self, PyObject *args)
{
  return PyLong_FromLong(ANSWER_VALUE);
}

static PyMethodDef methods[] = {{"answer", answer, METH_NOARGS, NULL}, {NULL, NULL, 0, NULL}};
static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "_answer", NULL, -1, methods};

PyMODINIT_FUNC PyInit__answer(void)
{
  return PyModule_Create(&module);
}
