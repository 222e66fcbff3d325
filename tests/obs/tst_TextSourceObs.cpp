// The corvane_text source inside the real libobs 30, wrapping OBS's real FreeType text
// source: what the wrapped source is told to show, and what the properties window offers.
#include "app/App.h"
#include "app/FollowedDevices.h"
#include "obs/ObsFixture.h"
#include "obs/TextSource.h"

#include <obs.h>

#include <QTest>

#include <cstring>
#include <vector>

using namespace corvane;

namespace {

obs_source_t *createText(const char *name, const char *templateText, const char *device = nullptr)
{
    obs_data_t *settings = obs_data_create();
    if (templateText)
        obs_data_set_string(settings, "template", templateText);
    if (device)
        obs_data_set_string(settings, "device", device);
    obs_source_t *source = obs_source_create("corvane_text", name, settings, nullptr);
    obs_data_release(settings);
    return source;
}

TextSource *instanceOf(obs_source_t *source) { return static_cast<TextSource *>(obs_obj_get_data(source)); }

QString childString(obs_source_t *source, const char *key)
{
    obs_data_t *settings = obs_source_get_settings(instanceOf(source)->child);
    const QString value = QString::fromUtf8(obs_data_get_string(settings, key));
    obs_data_release(settings);
    return value;
}

QString childText(obs_source_t *source) { return childString(source, "text"); }

void applyLive(const QJsonObject &message) { App::instance()->live().apply(message); }

// The Device list's items, label and id.
QList<QPair<QString, QString>> deviceItems(obs_source_t *source, QString *hint)
{
    QList<QPair<QString, QString>> items;
    obs_properties_t *props = obs_source_properties(source);
    obs_property_t *list = obs_properties_get(props, "device");
    for (size_t i = 0; list && i < obs_property_list_item_count(list); ++i)
        items.append({QString::fromUtf8(obs_property_list_item_name(list, i)), QString::fromUtf8(obs_property_list_item_string(list, i))});
    *hint = QString::fromUtf8(obs_property_description(obs_properties_get(props, "hint")));
    obs_properties_destroy(props);
    return items;
}

struct Released {
    void operator()(obs_source_t *source) const { obs_source_release(source); }
};
using SourceRef = std::unique_ptr<obs_source_t, Released>;

} // namespace

class TestTextSourceObs : public QObject {
    Q_OBJECT
private:
    test::ObsFixture obs;

private Q_SLOTS:
    void initTestCase()
    {
        const QString failed = obs.start();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QVERIFY(App::instance());
        QVERIFY(obs_get_source_output_flags("corvane_text") & OBS_SOURCE_VIDEO);
        QCOMPARE(QByteArray(obs_source_get_display_name("corvane_text")), QByteArray("Corvane Score Text"));
    }

    void cleanupTestCase() { obs.stop(); }

    void cleanup()
    {
        App::instance()->live().clear();
        obs_wait_for_destroy_queue();
    }

    void childTypeFollowsPreference()
    {
        const auto only = [](std::initializer_list<const char *> ids) {
            return [ids](const char *id) {
                for (const char *known : ids)
                    if (std::strcmp(known, id) == 0)
                        return true;
                return false;
            };
        };
        QCOMPARE(QByteArray(TextSource::chooseChildType(only({"text_ft2_source"}))), QByteArray("text_ft2_source"));
        QCOMPARE(QByteArray(TextSource::chooseChildType(only({"text_ft2_source", "text_ft2_source_v2"}))),
                 QByteArray("text_ft2_source_v2"));
        QCOMPARE(QByteArray(TextSource::chooseChildType(only({"text_ft2_source_v2", "text_gdiplus"}))), QByteArray("text_gdiplus"));
        QCOMPARE(QByteArray(TextSource::chooseChildType(only({"text_gdiplus", "text_gdiplus_v3", "text_gdiplus_v2"}))),
                 QByteArray("text_gdiplus_v3"));
        QVERIFY(!TextSource::chooseChildType(only({"browser_source", "color_source"})));
    }

    void wrapsTheFreeTypeSource()
    {
        SourceRef text(createText("score", "{home_score}:{away_score}"));
        QVERIFY(text);
        obs_source_t *child = instanceOf(text.get())->child;
        QCOMPARE(QByteArray(obs_source_get_id(child)), QByteArray("text_ft2_source_v2"));
        QCOMPARE(QByteArray(obs_source_get_name(child)), QByteArray("Corvane text"));
        QCOMPARE(childText(text.get()), QStringLiteral(":"));

        applyLive({{QStringLiteral("home_score"), 3}, {QStringLiteral("away_score"), 1}});
        QCOMPARE(childText(text.get()), QStringLiteral("3:1"));
        applyLive({{QStringLiteral("fields"), QJsonObject{{QStringLiteral("home_score"), 4.5}}}});
        QCOMPARE(childText(text.get()), QStringLiteral("4.5:1"));
    }

    void defaultTemplateAndPassThrough()
    {
        applyLive({{QStringLiteral("home_score"), 10}, {QStringLiteral("away_score"), 7}});
        obs_data_t *settings = obs_data_create();
        obs_data_set_int(settings, "color1", 0xff00ff00);
        obs_data_set_bool(settings, "outline", true);
        SourceRef text(obs_source_create("corvane_text", "defaults", settings, nullptr));
        obs_data_release(settings);
        QCOMPARE(childText(text.get()), QStringLiteral("10 - 7"));

        obs_data_t *child = obs_source_get_settings(instanceOf(text.get())->child);
        QCOMPARE(obs_data_get_int(child, "color1"), 0xff00ff00LL);
        QVERIFY(obs_data_get_bool(child, "outline"));
        obs_data_release(child);
    }

    void settingsUpdateRendersTheNewTemplate()
    {
        applyLive({{QStringLiteral("sport"), QStringLiteral("basketball")},
                   {QStringLiteral("clock"), QStringLiteral("7:12")},
                   {QStringLiteral("sport_name"), QStringLiteral("x")}});
        SourceRef text(createText("update", "{clock}"));
        QCOMPARE(childText(text.get()), QStringLiteral("7:12"));

        obs_data_t *change = obs_data_create();
        obs_data_set_string(change, "template", "Q{quarter} {clock} {sport}");
        obs_data_set_int(change, "custom_width", 123);
        obs_source_update(text.get(), change);
        obs_data_release(change);
        // OBS runs a video source's update on its video thread.
        QTRY_COMPARE(childText(text.get()), QStringLiteral("Q 7:12 basketball"));
        QCOMPARE(instanceOf(text.get())->templateText, QStringLiteral("Q{quarter} {clock} {sport}"));
        obs_data_t *child = obs_source_get_settings(instanceOf(text.get())->child);
        QCOMPARE(obs_data_get_int(child, "custom_width"), 123LL);
        obs_data_release(child);

        // Later live data uses the new template.
        applyLive({{QStringLiteral("quarter"), 4}});
        QCOMPARE(childText(text.get()), QStringLiteral("Q4 7:12 basketball"));
    }

    void unchangedTextIsNotPushedAgain()
    {
        applyLive({{QStringLiteral("home_score"), 1}, {QStringLiteral("away_score"), 2}, {QStringLiteral("clock"), QStringLiteral("9:59")}});
        SourceRef text(createText("unchanged", "{home_score} - {away_score}"));
        QCOMPARE(childText(text.get()), QStringLiteral("1 - 2"));
        // A mark in the wrapped source's own settings survives only while nothing is pushed.
        obs_data_t *child = obs_source_get_settings(instanceOf(text.get())->child);
        obs_data_set_string(child, "text", "mark");
        obs_data_release(child);

        applyLive({{QStringLiteral("clock"), QStringLiteral("9:58")}});
        QCOMPARE(childText(text.get()), QStringLiteral("mark"));
        applyLive({{QStringLiteral("home_score"), 3}});
        QCOMPARE(childText(text.get()), QStringLiteral("3 - 2"));

        // A settings change reaches the wrapped source even when the text stays the same.
        obs_data_t *change = obs_data_create();
        obs_data_set_int(change, "custom_width", 77);
        obs_source_update(text.get(), change);
        obs_data_release(change);
        // OBS runs a video source's update on its video thread.
        child = obs_source_get_settings(instanceOf(text.get())->child);
        QTRY_COMPARE(obs_data_get_int(child, "custom_width"), 77LL);
        obs_data_release(child);
    }

    void everyLiveSourceIsRefreshed()
    {
        std::vector<SourceRef> texts;
        const char *templates[] = {"{home_score}", "{away_score}", "{home_score}-{away_score}", "{period}"};
        for (const char *t : templates)
            texts.emplace_back(createText(t, t));
        SourceRef gone(createText("gone", "{home_score}"));
        gone.reset();
        obs_wait_for_destroy_queue();

        applyLive({{QStringLiteral("home_score"), 21}, {QStringLiteral("away_score"), 14}, {QStringLiteral("period"), 2}});
        QCOMPARE(childText(texts[0].get()), QStringLiteral("21"));
        QCOMPARE(childText(texts[1].get()), QStringLiteral("14"));
        QCOMPARE(childText(texts[2].get()), QStringLiteral("21-14"));
        QCOMPARE(childText(texts[3].get()), QStringLiteral("2"));

        App::instance()->live().clear();
        QCOMPARE(childText(texts[2].get()), QStringLiteral("-"));
    }

    // Texts bound to the main device and to a followed one show each their own device;
    // the Device list offers the main device first, then the followed ones.
    void boundToAFollowedDevice()
    {
        App *app = App::instance();
        const QString court = QStringLiteral("CV-2");
        QVERIFY(app->followDevice({court, FollowedRoute::Cloud, QStringLiteral("Court 2")}));
        SourceRef mainText(createText("main", "{home_score}"));
        SourceRef courtText(createText("court", "{home_score}", "CV-2"));
        SourceRef lostText(createText("lost", "{home_score}", "CV-9"));

        applyLive({{QStringLiteral("home_score"), 3}});
        app->liveOf(court)->apply({{QStringLiteral("home_score"), 8}, {QStringLiteral("court_only"), 1}});
        QCOMPARE(childText(mainText.get()), QStringLiteral("3"));
        QCOMPARE(childText(courtText.get()), QStringLiteral("8"));
        QCOMPARE(childText(lostText.get()), QString());

        // Held on its own: the main text keeps moving.
        app->shownOf(court)->hold();
        app->liveOf(court)->apply({{QStringLiteral("home_score"), 9}});
        applyLive({{QStringLiteral("home_score"), 4}});
        QCOMPARE(childText(courtText.get()), QStringLiteral("8"));
        QCOMPARE(childText(mainText.get()), QStringLiteral("4"));
        app->shownOf(court)->resume();
        QCOMPARE(childText(courtText.get()), QStringLiteral("9"));

        QString hint;
        const QList<QPair<QString, QString>> items = deviceItems(courtText.get(), &hint);
        QCOMPARE(items, (QList<QPair<QString, QString>>{{QStringLiteral("the main device (follows the dock)"), QString()},
                                                        {QStringLiteral("Court 2"), court}}));
        QVERIFY2(hint.endsWith(QStringLiteral("court_only, home_score")), qPrintable(hint));
        QCOMPARE(deviceItems(lostText.get(), &hint).last(), qMakePair(QStringLiteral("CV-9 (not followed)"), QStringLiteral("CV-9")));

        QVERIFY(app->followed()->unfollow(court));
        QCOMPARE(childText(courtText.get()), QString());
        QCOMPARE(childText(mainText.get()), QStringLiteral("4"));

        // Made main, it keeps feeding the text bound to its id; once the main route runs
        // another device, that text shows nothing again.
        app->selectDevice(court);
        applyLive({{QStringLiteral("home_score"), 5}, {QStringLiteral("main_only"), 1}});
        QCOMPARE(childText(courtText.get()), QStringLiteral("5"));
        QCOMPARE(childText(mainText.get()), QStringLiteral("5"));
        QCOMPARE(deviceItems(courtText.get(), &hint).last(), qMakePair(QStringLiteral("CV-2 (the main device now)"), court));
        QVERIFY2(hint.contains(QStringLiteral("main_only")), qPrintable(hint));
        app->selectDevice(QStringLiteral("CV-3"));
        applyLive({{QStringLiteral("home_score"), 6}});
        QCOMPARE(childText(courtText.get()), QString());
        QCOMPARE(childText(mainText.get()), QStringLiteral("6"));
    }

    void propertiesReplaceTheTextInput()
    {
        SourceRef text(createText("props", nullptr));
        const auto check = [&](const QString &fieldList) {
            obs_properties_t *props = obs_source_properties(text.get());
            QVERIFY(props);
            for (const char *hidden : {"text", "from_file", "text_file", "log_mode"})
                QVERIFY2(!obs_properties_get(props, hidden), hidden);
            // The wrapped source's own options stay.
            QVERIFY(obs_properties_get(props, "font"));
            QVERIFY(obs_properties_get(props, "color1"));

            obs_property_t *templateProp = obs_properties_get(props, "template");
            QVERIFY(templateProp);
            QCOMPARE(obs_property_get_type(templateProp), OBS_PROPERTY_TEXT);
            QCOMPARE(obs_property_text_type(templateProp), OBS_TEXT_MULTILINE);
            QCOMPARE(QByteArray(obs_property_description(templateProp)), QByteArray("Template"));

            const QString hint = QStringLiteral("Write live fields in braces, for example {home_score}. Fields available now: ") + fieldList;
            obs_property_t *hintProp = obs_properties_get(props, "hint");
            QVERIFY(hintProp);
            QCOMPARE(obs_property_text_type(hintProp), OBS_TEXT_INFO);
            QCOMPARE(QString::fromUtf8(obs_property_description(hintProp)), hint);
            QCOMPARE(QString::fromUtf8(obs_property_long_description(templateProp)), hint);
            obs_properties_destroy(props);
        };
        check(QStringLiteral("home_score, away_score, clock, period \u2026"));
        applyLive({{QStringLiteral("period"), 1}, {QStringLiteral("away_score"), 0}, {QStringLiteral("Zebra"), 1}});
        check(QStringLiteral("Zebra, away_score, period"));
    }
};

QTEST_GUILESS_MAIN(TestTextSourceObs)
#include "tst_TextSourceObs.moc"
