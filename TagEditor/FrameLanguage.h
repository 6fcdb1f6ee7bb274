#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sondrel::tags {

// The ISO 639-2 three-letter codes in alphabetical order: the 506 codes of the current list
// (bibliographic and terminology forms alike) and scc and scr, the Serbian and Croatian codes
// withdrawn in 2008, kept for tags written before then. One list gives both the enumerators and
// their codes, so the two cannot drift apart. "asm" and "new" are C++ keywords: their enumerators
// end in an underscore, their codes do not.
// clang-format off
#define SONDREL_TAGS_FRAME_LANGUAGE_CODES(X) \
    X(aar) X(abk) X(ace) X(ach) X(ada) X(ady) X(afa) X(afh) X(afr) X(ain) X(aka) X(akk) \
    X(alb) X(ale) X(alg) X(alt) X(amh) X(ang) X(anp) X(apa) X(ara) X(arc) X(arg) X(arm) \
    X(arn) X(arp) X(art) X(arw) X(asm_) X(ast) X(ath) X(aus) X(ava) X(ave) X(awa) X(aym) \
    X(aze) X(bad) X(bai) X(bak) X(bal) X(bam) X(ban) X(baq) X(bas) X(bat) X(bej) X(bel) \
    X(bem) X(ben) X(ber) X(bho) X(bih) X(bik) X(bin) X(bis) X(bla) X(bnt) X(bod) X(bos) \
    X(bra) X(bre) X(btk) X(bua) X(bug) X(bul) X(bur) X(byn) X(cad) X(cai) X(car) X(cat) \
    X(cau) X(ceb) X(cel) X(ces) X(cha) X(chb) X(che) X(chg) X(chi) X(chk) X(chm) X(chn) \
    X(cho) X(chp) X(chr) X(chu) X(chv) X(chy) X(cmc) X(cnr) X(cop) X(cor) X(cos) X(cpe) \
    X(cpf) X(cpp) X(cre) X(crh) X(crp) X(csb) X(cus) X(cym) X(cze) X(dak) X(dan) X(dar) \
    X(day) X(del) X(den) X(deu) X(dgr) X(din) X(div) X(doi) X(dra) X(dsb) X(dua) X(dum) \
    X(dut) X(dyu) X(dzo) X(efi) X(egy) X(eka) X(ell) X(elx) X(eng) X(enm) X(epo) X(est) \
    X(eus) X(ewe) X(ewo) X(fan) X(fao) X(fas) X(fat) X(fij) X(fil) X(fin) X(fiu) X(fon) \
    X(fra) X(fre) X(frm) X(fro) X(frr) X(frs) X(fry) X(ful) X(fur) X(gaa) X(gay) X(gba) \
    X(gem) X(geo) X(ger) X(gez) X(gil) X(gla) X(gle) X(glg) X(glv) X(gmh) X(goh) X(gon) \
    X(gor) X(got) X(grb) X(grc) X(gre) X(grn) X(gsw) X(guj) X(gwi) X(hai) X(hat) X(hau) \
    X(haw) X(heb) X(her) X(hil) X(him) X(hin) X(hit) X(hmn) X(hmo) X(hrv) X(hsb) X(hun) \
    X(hup) X(hye) X(iba) X(ibo) X(ice) X(ido) X(iii) X(ijo) X(iku) X(ile) X(ilo) X(ina) \
    X(inc) X(ind) X(ine) X(inh) X(ipk) X(ira) X(iro) X(isl) X(ita) X(jav) X(jbo) X(jpn) \
    X(jpr) X(jrb) X(kaa) X(kab) X(kac) X(kal) X(kam) X(kan) X(kar) X(kas) X(kat) X(kau) \
    X(kaw) X(kaz) X(kbd) X(kha) X(khi) X(khm) X(kho) X(kik) X(kin) X(kir) X(kmb) X(kok) \
    X(kom) X(kon) X(kor) X(kos) X(kpe) X(krc) X(krl) X(kro) X(kru) X(kua) X(kum) X(kur) \
    X(kut) X(lad) X(lah) X(lam) X(lao) X(lat) X(lav) X(lez) X(lim) X(lin) X(lit) X(lol) \
    X(loz) X(ltz) X(lua) X(lub) X(lug) X(lui) X(lun) X(luo) X(lus) X(mac) X(mad) X(mag) \
    X(mah) X(mai) X(mak) X(mal) X(man) X(mao) X(map) X(mar) X(mas) X(may) X(mdf) X(mdr) \
    X(men) X(mga) X(mic) X(min) X(mis) X(mkd) X(mkh) X(mlg) X(mlt) X(mnc) X(mni) X(mno) \
    X(moh) X(mon) X(mos) X(mri) X(msa) X(mul) X(mun) X(mus) X(mwl) X(mwr) X(mya) X(myn) \
    X(myv) X(nah) X(nai) X(nap) X(nau) X(nav) X(nbl) X(nde) X(ndo) X(nds) X(nep) X(new_) \
    X(nia) X(nic) X(niu) X(nld) X(nno) X(nob) X(nog) X(non) X(nor) X(nqo) X(nso) X(nub) \
    X(nwc) X(nya) X(nym) X(nyn) X(nyo) X(nzi) X(oci) X(oji) X(ori) X(orm) X(osa) X(oss) \
    X(ota) X(oto) X(paa) X(pag) X(pal) X(pam) X(pan) X(pap) X(pau) X(peo) X(per) X(phi) \
    X(phn) X(pli) X(pol) X(pon) X(por) X(pra) X(pro) X(pus) X(que) X(raj) X(rap) X(rar) \
    X(roa) X(roh) X(rom) X(ron) X(rum) X(run) X(rup) X(rus) X(sad) X(sag) X(sah) X(sai) \
    X(sal) X(sam) X(san) X(sas) X(sat) X(scc) X(scn) X(sco) X(scr) X(sel) X(sem) X(sga) \
    X(sgn) X(shn) X(sid) X(sin) X(sio) X(sit) X(sla) X(slk) X(slo) X(slv) X(sma) X(sme) \
    X(smi) X(smj) X(smn) X(smo) X(sms) X(sna) X(snd) X(snk) X(sog) X(som) X(son) X(sot) \
    X(spa) X(sqi) X(srd) X(srn) X(srp) X(srr) X(ssa) X(ssw) X(suk) X(sun) X(sus) X(sux) \
    X(swa) X(swe) X(syc) X(syr) X(tah) X(tai) X(tam) X(tat) X(tel) X(tem) X(ter) X(tet) \
    X(tgk) X(tgl) X(tha) X(tib) X(tig) X(tir) X(tiv) X(tkl) X(tlh) X(tli) X(tmh) X(tog) \
    X(ton) X(tpi) X(tsi) X(tsn) X(tso) X(tuk) X(tum) X(tup) X(tur) X(tut) X(tvl) X(twi) \
    X(tyv) X(udm) X(uga) X(uig) X(ukr) X(umb) X(und) X(urd) X(uzb) X(vai) X(ven) X(vie) \
    X(vol) X(vot) X(wak) X(wal) X(war) X(was) X(wel) X(wen) X(wln) X(wol) X(xal) X(xho) \
    X(yao) X(yap) X(yid) X(yor) X(ypk) X(zap) X(zbl) X(zen) X(zgh) X(zha) X(zho) X(znd) \
    X(zul) X(zun) X(zxx) X(zza)

// The language of a comment or lyrics frame; `unknown` stands for any code not in the list.
enum class FrameLanguage : std::uint16_t {
#define SONDREL_TAGS_FRAME_LANGUAGE_ENUMERATOR(code) code,
    SONDREL_TAGS_FRAME_LANGUAGE_CODES(SONDREL_TAGS_FRAME_LANGUAGE_ENUMERATOR)
#undef SONDREL_TAGS_FRAME_LANGUAGE_ENUMERATOR
    unknown
};
// clang-format on

inline constexpr std::size_t kFrameLanguageCount = static_cast<std::size_t>(FrameLanguage::unknown) + 1;

// The code ("eng"), or "unknown" for `unknown`.
[[nodiscard]] std::string_view rawValue(FrameLanguage language) noexcept;

// The language whose code equals the text exactly (lower case, three letters); `unknown` otherwise.
[[nodiscard]] FrameLanguage frameLanguageFromCode(std::string_view code) noexcept;

} // namespace sondrel::tags
