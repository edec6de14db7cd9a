// Debian's OpenCASCADE 7.6.3 development packages install the triangulation
// headers without this one, so nothing that includes BRep_Tool.hxx compiles.
// This stand-in only declares what those headers name, enough for them to
// parse. Its layout is not the library's: occt-compare never touches a
// triangulation's node arrays inline and reads triangulations only through
// the library's exported copies (Poly_Triangulation::MapNodeArray and
// MapTriangleArray). None of its functions is defined, so any inline use
// fails at link time instead of reading the wrong memory.
#ifndef _NCollection_AliasedArray_HeaderFile
#define _NCollection_AliasedArray_HeaderFile

#include <Standard_TypeDef.hxx>

template <int MyAlignSize = 16>
class NCollection_AliasedArray {
public:
    explicit NCollection_AliasedArray(Standard_Integer theStride);
    NCollection_AliasedArray(Standard_Integer theStride, Standard_Integer theLength);
    template <typename Type>
    NCollection_AliasedArray(const Type& theBegin, Standard_Integer theLength);
    NCollection_AliasedArray(NCollection_AliasedArray&& theOther);
    ~NCollection_AliasedArray();

    Standard_Boolean IsEmpty() const;
    Standard_Integer Length() const;
    NCollection_AliasedArray& Move(NCollection_AliasedArray& theOther);
    template <typename Type>
    const Type& Value(Standard_Integer theIndex) const;
    template <typename Type>
    Type& ChangeValue(Standard_Integer theIndex);

protected:
    Standard_Byte* myData;
    Standard_Integer myStride;
};

#endif
